#pragma once

#include "pad/SerialPort.h"
#include "platform/ComPortDevices.h"
#include "tests/support/TempDir.h"
#include "tools/padpeer/PtyPeer.h"

#include <cstdlib>
#include <sys/ioctl.h>

namespace korvane::test {

// A pad cable for tests: a pseudo-terminal whose slave is COM port 1 of a
// private device folder, with the pad's end (`pad`) in the test's hands.
class PadLine {
public:
    static constexpr int kPortNumber = 1;

    PadLine() {
        pad.linkAs(folder.path(), kPortNumber);
        ::setenv(kDeviceFolderEnv, folder.path().c_str(), 1);
    }
    ~PadLine() { ::unsetenv(kDeviceFolderEnv); }

    bool openPort(SerialPort& port, int baudRate = 115200) {
        return port.open(kPortNumber, baudRate, 'N', '8', '1', true);
    }

    // Everything the loader sent that the pad has not read yet. The loader's
    // writes are complete when its call returns, but the terminal hands them
    // to the pad's end a moment later; a short quiet spell closes the record.
    std::string leftAtPad() { return pad.readUntilQuiet(100); }

    // What waits on the loader's side, asked through the descriptor the pad
    // holds (it is the same terminal).
    int queuedForLoader() const {
        int queued = 0;
        ::ioctl(pad.slaveDescriptor(), FIONREAD, &queued);
        return queued;
    }

    TempDir folder;
    padpeer::PtyPeer pad;
};

}  // namespace korvane::test
