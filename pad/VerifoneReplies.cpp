#include "pad/VerifoneReplies.h"

#include "pad/ControlChars.h"
#include "pad/LinkCodes.h"
#include "job/LoadJob.h"

namespace korvane {
namespace {

constexpr const char* kStatusOk = "00";
constexpr size_t kTagValueOffset = 3;  // the separator and the two-digit tag

std::string part(std::string_view text, size_t start, size_t length) {
    if (start >= text.size()) return {};
    return std::string(text.substr(start, length));
}

std::string withoutLeadingZeros(std::string text) {
    const size_t first = text.find_first_not_of('0');
    text.erase(0, first == std::string::npos ? text.size() : first);
    return text;
}

std::string withoutTrailingSpace(std::string text) {
    const size_t end = text.find_last_not_of(" \t\r\n\v\f");
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

// The characters from `separator` + 3 up to `end`; empty when that is no range.
std::string tagValue(std::string_view reply, size_t separator, size_t end) {
    const size_t start = separator + kTagValueOffset;
    if (start >= end) return {};
    return std::string(reply.substr(start, end - start));
}

}  // namespace

const char* verifoneLinkResultText(int linkResult) {
    switch (linkResult) {
        case kLinkFailed: return "NAK Error from PinPad.";
        case kLinkAckTimeout: return "NO Response from PinPad.";
        case kLinkReplyTimeout: return "Timeout Waiting for PinPad.";
        default: return "Packet Error from PinPad.";
    }
}

std::string verifoneSerialQueryText() { return "S95"; }

std::string verifoneTagsQueryText() { return std::string("S95") + kFs + "11,12,15"; }

std::string verifoneDownloadModeText(bool usbConnection) { return usbConnection ? "*01P2U" : "*01P21"; }

std::string verifoneZ8Text(std::string_view text) {
    return "Z8" + std::string(text) + kFs + kFs + kFs;
}

bool takeVerifoneSerialReply(std::string_view reply, DeviceInfo& deviceInfo) {
    if (part(reply, 1, 2) != kStatusOk) return false;
    deviceInfo.padModel = part(reply, 3, 5);
    deviceInfo.oemId = withoutTrailingSpace(part(reply, 47, 16));
    deviceInfo.padAppVersion = withoutLeadingZeros(part(reply, 20, 9));
    return true;
}

bool takeVerifoneTagsReply(std::string_view reply, DeviceInfo& deviceInfo) {
    if (part(reply, 4, 2) != kStatusOk) return false;
    const size_t gs = reply.find(kGs);
    if (gs == std::string_view::npos) return false;
    const size_t fs1 = reply.find(kFs, gs + 1);
    if (fs1 == std::string_view::npos) return false;
    const size_t fs2 = reply.find(kFs, fs1 + 1);
    if (fs2 == std::string_view::npos) return false;
    const size_t etx = reply.find(kEtx, fs2 + 1);
    if (etx == std::string_view::npos) return false;

    deviceInfo.padModel = tagValue(reply, gs, fs1);
    deviceInfo.padAppVersion = withoutLeadingZeros(tagValue(reply, fs1, fs2));
    deviceInfo.appVersion = deviceInfo.padAppVersion;
    deviceInfo.oemId = withoutTrailingSpace(tagValue(reply, fs2, etx));
    return true;
}

}  // namespace korvane
