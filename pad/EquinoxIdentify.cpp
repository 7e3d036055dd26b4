#include "pad/EquinoxIdentify.h"

#include "pad/ControlChars.h"
#include "pad/EquinoxMessages.h"
#include "pad/LinkCodes.h"
#include "pad/SerialPort.h"
#include "job/LoadJob.h"

namespace korvane {

bool identifyEquinox(SerialPort& port, DeviceInfo& deviceInfo, std::string& message) {
    std::string reply;
    if (port.exchange(buildFrame("T"), reply, kEquinoxTypeAckMs, kEquinoxTypeReplyMs) != kLinkSuccess) {
        message = kEquinoxTypeFailedText;
        return false;
    }
    const std::string letter = equinoxModelLetter(reply);
    if (letter != "H" && letter != "K") {
        message = "Model does not appear to be L5300 Expecting 'H' or 'K' received '" + letter + "' " +
                  renderControlChars(reply);
        return false;
    }
    deviceInfo.padModel = letter;

    const int result = port.exchange(buildFrame(std::string("F") + kFs + "MVY"), reply, kEquinoxIdentityAckMs,
                                     kEquinoxIdentityReplyMs);
    if (result != kLinkSuccess || reply.empty()) {
        message = kEquinoxIdentityFailedText;
        return false;
    }
    takeEquinoxIdentity(reply, deviceInfo);
    return true;
}

}  // namespace korvane
