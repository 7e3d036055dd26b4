#include "platform/DeviceAccess.h"

#include "platform/SystemErrorText.h"

#include <cerrno>
#include <io.h>
#include <map>
#include <mutex>
#include <windows.h>

namespace korvane {
namespace {

std::mutex refusalsLock;
std::map<std::string, int>& refusals() {
    static std::map<std::string, int> refused;
    return refused;
}

int refusedError(const std::string& path) {
    std::lock_guard<std::mutex> guard(refusalsLock);
    if (refusals().empty()) return 0;
    const auto found = refusals().find(path);
    return found != refusals().end() ? found->second : 0;
}

constexpr const char* kDevicePrefix = "\\\\.\\";

}  // namespace

// Windows gives no remedy to point at: its text is the whole story.
DeviceAccessProblem describeDeviceAccessProblem(const std::string& devicePath, int error) {
    DeviceAccessProblem problem;
    problem.devicePath = devicePath;
    problem.device = devicePath;
    problem.error = error;
    problem.reason = systemErrorText(error) + " (error " + std::to_string(static_cast<unsigned long>(error)) + ")";
    return problem;
}

int openDeviceNode(const std::string& path, int flags) {
    if (const int error = refusedError(path); error != 0) {
        errno = EACCES;
        SetLastError(static_cast<DWORD>(error));
        return -1;
    }
    return _open(path.c_str(), flags);
}

int deviceAccessError(const std::string& path) {
    if (const int error = refusedError(path); error != 0) return error;
    // A port is asked about by its DOS name, which opens nothing.
    if (path.compare(0, 4, kDevicePrefix) == 0) {
        char target[1024];
        return QueryDosDeviceA(path.c_str() + 4, target, sizeof target) != 0 ? 0 : static_cast<int>(GetLastError());
    }
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? 0 : static_cast<int>(GetLastError());
}

void setDeviceRefusedForTesting(const std::string& path, int error) {
    std::lock_guard<std::mutex> guard(refusalsLock);
    if (error == 0) {
        refusals().erase(path);
    } else {
        refusals()[path] = error;
    }
}

}  // namespace korvane
