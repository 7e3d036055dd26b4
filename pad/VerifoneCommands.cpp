#include "pad/VerifoneCommands.h"

#include "pad/ControlChars.h"
#include "pad/LinkCodes.h"
#include "pad/SerialPort.h"
#include "pad/VerifoneReplies.h"
#include "platform/MessagePump.h"
#include "job/LoadJob.h"

namespace korvane {
namespace {

bool linkFailed(int result, std::string& message) {
    if (result == kLinkSuccess) return false;
    message = verifoneLinkResultText(result);
    return true;
}

}  // namespace

bool readVerifoneSerial(SerialPort& port, DeviceInfo& deviceInfo, std::string& message) {
    std::string reply;
    const int result = port.exchange(buildFrame(verifoneSerialQueryText()), reply, kVerifoneIdentityAckMs,
                                     kVerifoneIdentityReplyMs);
    if (linkFailed(result, message)) return false;
    if (!takeVerifoneSerialReply(reply, deviceInfo)) {
        message = kVerifoneSerialFailedText;
        return false;
    }
    return true;
}

bool readVerifoneTags(SerialPort& port, DeviceInfo& deviceInfo, std::string& message) {
    std::string reply;
    const int result = port.exchange(buildFrame(verifoneTagsQueryText()), reply, kVerifoneIdentityAckMs,
                                     kVerifoneIdentityReplyMs);
    if (linkFailed(result, message)) return false;
    if (!takeVerifoneTagsReply(reply, deviceInfo)) {
        message = kVerifoneSerialFailedText;
        return false;
    }
    return true;
}

int sendDownloadModeRequest(SerialPort& port, bool usbConnection) {
    const int result = port.sendAndAwaitAck(buildFrame(verifoneDownloadModeText(usbConnection)));
    if (result == kLinkSuccess) sleepPumping(kPadCommandTrailPauseMs);
    return result;
}

bool requestDownloadMode(SerialPort& port, std::string& message, bool usbConnection) {
    sleepPumping(kDownloadModeLeadPauseMs);
    return !linkFailed(sendDownloadModeRequest(port, usbConnection), message);
}

bool sendZ8Message(SerialPort& port, std::string_view text, std::string& message) {
    sleepPumping(kPadCommandLeadPauseMs);
    std::string reply;
    const int result = port.exchange(buildFrame(verifoneZ8Text(text)), reply, kVerifoneZ8AckMs, kVerifoneZ8ReplyMs);
    if (linkFailed(result, message)) return false;
    sleepPumping(kPadCommandTrailPauseMs);
    return true;
}

}  // namespace korvane
