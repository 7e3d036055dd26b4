// RbaPad: the pad's configuration parameters and the contactless defaults.
#include "pad/ControlChars.h"
#include "pad/LinkCodes.h"
#include "pad/RbaPad.h"
#include "pad/RbaReplies.h"
#include "pad/SerialPort.h"
#include "platform/MessagePump.h"
#include "platform/Tick.h"
#include "server/FormatText.h"

namespace korvane {
namespace {

struct Parameter {
    const char* group;
    const char* index;
    const char* value;
};

// The signature data settings, in the order the pad must receive them.
constexpr Parameter kSignatureParameters[] = {
    {"9", "1", "0"},  {"9", "2", "1"},  {"9", "4", "0"},    {"9", "5", "9"},  {"9", "6", "0"},
    {"9", "7", "0"},  {"9", "8", "0"},  {"9", "12", "250"}, {"9", "13", "0"}, {"9", "14", "1000"},
    {"9", "15", "1"}, {"9", "16", "0"}, {"7", "1", "3"},
};

constexpr char kContactlessFileName[] = "EMVCLESS.XML";

std::string triplet(const std::string& group, const std::string& index, const std::string& value) {
    return group + kGs + index + kGs + value;
}

std::string renderedTail(const std::string& reply) {
    return renderControlChars(reply.size() > 1 ? std::string_view(reply).substr(1) : std::string_view());
}

}  // namespace

bool RbaPad::getParameter(const std::string& group, const std::string& index, std::string& valueOut,
                          std::string& errorOut) {
    valueOut.clear();
    SerialPort* serial = port();
    std::string reply;
    const int result = serial == nullptr ? kLinkFailed
                                         : serial->exchange(buildFrame("61." + group + kGs + index), reply,
                                                            kGetAckMs, kGetReplyMs);
    if (result != kLinkSuccess) {
        errorOut = formatText("Sending GET Command to device Failed cr = %d", result);
        return false;
    }
    if (!replyStartsWith(reply, "61.2")) {
        errorOut = "GET Command to device Failed + [" + renderedTail(reply) + "]";
        return false;
    }
    valueOut = parameterValueOf(reply);
    return true;
}

bool RbaPad::writeParameters(const std::string& text, uint32_t ackTimeoutMs, uint32_t replyTimeoutMs,
                             std::string& errorOut) {
    const std::string frame = buildFrame(text);
    for (int attempt = 1; attempt <= kSetAttempts; ++attempt) {
        SerialPort* serial = port();
        std::string reply;
        const int result = serial == nullptr ? kLinkFailed
                                             : serial->exchange(frame, reply, ackTimeoutMs, replyTimeoutMs);
        if (result != kLinkSuccess) {
            errorOut = "Sending SET Command to device Failed";
        } else if (!replyStartsWith(reply, "60.2")) {
            errorOut = "SET Command to device Failed + [" + renderedTail(reply) + "]";
        } else {
            sendReset();
            return true;
        }
        if (attempt < kSetAttempts) sleepPumping(kSetRetryPauseMs);
    }
    sendReset();
    return false;
}

bool RbaPad::setParameter(const std::string& group, const std::string& index, const std::string& value,
                          std::string& errorOut) {
    return writeParameters("60." + triplet(group, index, value), kSetAckMs, kSetReplyMs, errorOut);
}

bool RbaPad::setParameterList(std::string& errorOut) {
    std::string text = "60.";
    for (const Parameter& parameter : kSignatureParameters) {
        if (text.size() > 3) text += kFs;
        text += triplet(parameter.group, parameter.index, parameter.value);
    }
    return writeParameters(text, kSetListAckMs, kSetListReplyMs, errorOut);
}

bool RbaPad::ensureParameter(const std::string& group, const std::string& index, const std::string& value) {
    std::string current;
    std::string error;
    if (!getParameter(group, index, current, error)) return false;
    if (current == value) return true;
    return setParameter(group, index, value, error);
}

bool RbaPad::setContactlessDefaults(std::string& errorOut, bool skipExtras, std::string_view document) {
    errorOut = "Could not set contactless defaults.";
    if (!ensureParameter("8", "1", "1")) return false;
    if (!skipExtras && (!ensureParameter("8", "15", "2") || !ensureParameter("8", "16", "2"))) return false;
    if (!loadFile(document, kContactlessFileName, errorOut, kBlockSize)) return false;
    errorOut.clear();
    return true;
}

}  // namespace korvane
