#pragma once

#include "platform/ComPortDevices.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace korvane::test {

// korvane-pad-sim as a real process: COM 1 of a private device folder (also
// set as this process's device folder, so the loader's classes find it),
// received files and parameters.txt in a private files folder.
class PadSimProcess {
public:
    explicit PadSimProcess(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--device-dir", devices.path(), "--port", "1", "--files-dir", files.path()};
        args.insert(args.end(), extra.begin(), extra.end());
        process = std::make_unique<ChildProcess>(KORVANE_PAD_SIM_PATH, args);
        ::setenv(kDeviceFolderEnv, devices.path().c_str(), 1);
    }
    ~PadSimProcess() { ::unsetenv(kDeviceFolderEnv); }

    // Waits for the first line, "pad ready on com1 -> DEVICE".
    bool ready() {
        return waitUntil([&] { return process->standardOutput().find('\n') != std::string::npos; }, 20000) &&
               process->standardOutput().rfind("pad ready on com1 -> ", 0) == 0;
    }
    bool saysSoon(const std::string& text, int timeoutMs = 5000) {
        return waitUntil([&] { return output().find(text) != std::string::npos; }, timeoutMs);
    }
    std::string output() const { return process->standardOutput(); }

    TempDir devices;
    TempDir files;
    std::unique_ptr<ChildProcess> process;
};

}  // namespace korvane::test
