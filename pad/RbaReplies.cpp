#include "pad/RbaReplies.h"

#include "pad/ControlChars.h"
#include "pad/RbaFields.h"
#include "job/LoadJob.h"

#include <algorithm>
#include <vector>

namespace korvane {
namespace {

constexpr char kIdentificationDelimiters[] = {kFs, kEtx, '\0'};
constexpr char kParameterDelimiters[] = {kGs, kEtx, '\0'};

void takePiece(const std::vector<std::string>& fields, size_t number, std::string& into) {
    if (number <= fields.size()) into = fields[number - 1];
}

}  // namespace

bool replyStartsWith(std::string_view reply, std::string_view head) {
    return !reply.empty() && reply.front() == kStx && reply.substr(1, head.size()) == head;
}

bool isIdentificationReply(std::string_view reply) { return reply.size() >= 4 && reply.substr(1, 3) == "07."; }

void takeIdentificationFields(std::string_view reply, DeviceInfo& deviceInfo) {
    const std::vector<std::string> fields = splitFields(withoutCheckByte(reply), kIdentificationDelimiters);
    takePiece(fields, 2, deviceInfo.padModel);
    takePiece(fields, 9, deviceInfo.padAppVersion);
    takePiece(fields, 10, deviceInfo.appVersion);
    takePiece(fields, 11, deviceInfo.configVersion);
    takePiece(fields, 14, deviceInfo.oemId);
}

std::string parameterValueOf(std::string_view reply) {
    return fieldAt(splitFields(withoutCheckByte(reply), kParameterDelimiters), 3);
}

std::string judgeKeyReply(std::string_view reply) {
    if (reply.find("KSN_0=") == std::string_view::npos) return kNoPinKeyText;
    const size_t pan = reply.find("KSN_4=");
    if (pan == std::string_view::npos) return kNoPanKeyText;
    const std::string_view keySet = reply.substr(pan + 6, 10);
    if (keySet.substr(0, kAcceptedPanPrefix.size()) == kAcceptedPanPrefix) return {};
    if (std::find(kAcceptedKeySets.begin(), kAcceptedKeySets.end(), keySet) != kAcceptedKeySets.end()) return {};
    return kWrongPanKeyText;
}

}  // namespace korvane
