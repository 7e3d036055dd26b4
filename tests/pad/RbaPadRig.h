#pragma once

#include "pad/RbaPad.h"
#include "pad/SerialPort.h"
#include "tests/pad/PadLine.h"
#include "job/LoadJob.h"
#include "job/ProgressWindowHandle.h"
#include "job/StatusMailbox.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace korvane::test {

// Wire text with "~" for FS and "^" for GS.
inline std::string wire(std::string text) {
    for (char& c : text) {
        if (c == '~') c = '\x1c';
        if (c == '^') c = '\x1d';
    }
    return text;
}

// A pad object working for a job whose port is COM 1 of a private device
// folder, with the pad's end of the line (`line.pad`) in the test's hands and
// the status texts of the job's progress window recorded.
template <typename Pad>
class PadRig {
public:
    explicit PadRig(bool usbConnection = true) {
        EXPECT_TRUE(line.openPort(port)) << port.lastError();
        job.serialPort = &port;
        job.comPort = PadLine::kPortNumber;
        job.usbConnection = usbConnection;
        job.progressWindow = ProgressWindowHandle::open([this] {
            const std::string text = StatusMailbox::processWide().text();
            std::function<void(const std::string&)> hook;
            {
                std::lock_guard<std::mutex> guard(lock_);
                statuses_.push_back(text);
                hook = onStatus;
            }
            if (hook) hook(text);
        });
    }
    ~PadRig() { job.progressWindow.retire(); }

    std::vector<std::string> statuses() const {
        std::lock_guard<std::mutex> guard(lock_);
        return statuses_;
    }

    // Runs on the loader's thread as each status text is posted.
    std::function<void(const std::string&)> onStatus;

    PadLine line;
    SerialPort port;
    LoadJob job;
    Pad pad{InstallationConfig{}, &job};

private:
    mutable std::mutex lock_;
    std::vector<std::string> statuses_;
};

using RbaPadRig = PadRig<RbaPad>;

}  // namespace korvane::test
