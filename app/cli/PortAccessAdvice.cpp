#include "app/cli/PortAccessAdvice.h"

#include "platform/DeviceAccess.h"
#include "workflows/PortCheck.h"

namespace korvane {

std::string portAccessAdvice(const std::string& message) {
    if (message != kPortAccessFailedMessage) return {};
    const std::optional<DeviceAccessProblem> problem = takeDeviceOpenFailure();
    if (!problem) return {};
    std::string text;
    std::string::size_type start = 0;
    const std::string body = deviceAccessProblemText(*problem);
    // Each line marked as this program's own, apart from the operator's text.
    while (start <= body.size()) {
        const std::string::size_type end = body.find('\n', start);
        text += "korvane-load: " + body.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos) break;
        text += "\n";
        start = end + 1;
    }
    return text;
}

}  // namespace korvane
