#include "platform/DeviceAccess.h"

namespace korvane {
namespace {
thread_local std::optional<DeviceAccessProblem> lastFailure;
}  // namespace

std::string deviceAccessProblemText(const DeviceAccessProblem& problem) {
    std::string text = "cannot open " + problem.devicePath;
    if (problem.device != problem.devicePath) text += " -> " + problem.device;
    text += ": " + problem.reason;
    if (!problem.remedy.empty()) text += "\nremedy: " + problem.remedy;
    return text;
}

void noteDeviceOpenFailure(const DeviceAccessProblem& problem) { lastFailure = problem; }

void forgetDeviceOpenFailure() { lastFailure.reset(); }

std::optional<DeviceAccessProblem> takeDeviceOpenFailure() {
    std::optional<DeviceAccessProblem> taken = std::move(lastFailure);
    lastFailure.reset();
    return taken;
}

}  // namespace korvane
