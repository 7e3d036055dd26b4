#pragma once

namespace korvane {

// The desktop program: one copy per desktop, the settings read before the
// main window opens and written after it closes, whatever the way out.
class PadLoaderApp {
public:
    static constexpr const char* kSecondInstanceMessage = "Only one instance of Stellic may be run at a time!";

    // Returns the process exit status.
    int run(int argc, char** argv);

    // True when the first argument asks to stop right after the instance check.
    static bool isInstanceCheckOnly(int argc, char** argv);
};

}  // namespace korvane
