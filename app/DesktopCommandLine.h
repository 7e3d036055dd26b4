#pragma once

#include <optional>

namespace korvane {

// `--help` and `--version` anywhere on the desktop program's command line:
// the text is printed to standard output before any window or lock, and the
// exit status returned. Nothing for any other command line, which the program
// ignores as it always has (Qt takes its own options).
std::optional<int> answerInformationRequest(int argc, char** argv);

}  // namespace korvane
