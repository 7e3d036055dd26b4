#pragma once

#include <optional>
#include <string>

namespace korvane {

// Why a serial device could not be opened, told so that a technician can act
// on it: which device, the operating system's reason, and the remedy where
// one is known (for a permission refusal: joining the group that owns the
// device, "dialout" on Debian; Windows gives its reason and no remedy).
struct DeviceAccessProblem {
    std::string devicePath;  // as opened: a comN entry, or /dev/ttyS<N-1>
    std::string device;      // the device it leads to (the same path when it is no link)
    int error = 0;           // errno (on Windows the system error code)
    std::string reason;      // the operating system's text for `error`
    std::string remedy;      // empty when there is none to give
};

DeviceAccessProblem describeDeviceAccessProblem(const std::string& devicePath, int error);

// "cannot open PATH (-> DEVICE): REASON", then "remedy: ..." on a line of its own when there is one.
std::string deviceAccessProblemText(const DeviceAccessProblem& problem);

// open(2) for a device node; the only way the program opens one, so that the
// test seam below applies.
int openDeviceNode(const std::string& path, int flags);

// 0 when this user may open `path` for reading and writing, else the errno
// that says why not. Opens nothing: opening a serial line raises its modem
// lines, which must not happen to a device merely listed.
int deviceAccessError(const std::string& path);

// Tests run as root, who may open anything: while set, opening or checking
// the device `path` (compared after resolving links) fails with `error`.
// An error of 0 lifts the refusal.
void setDeviceRefusedForTesting(const std::string& path, int error);

// The last device open that failed on this thread, kept until taken, so that
// a console can explain the operator's short "Failed on Com Port Access.".
void noteDeviceOpenFailure(const DeviceAccessProblem& problem);
void forgetDeviceOpenFailure();
std::optional<DeviceAccessProblem> takeDeviceOpenFailure();

}  // namespace korvane
