#include "pad/EquinoxMessages.h"

#include "pad/ControlChars.h"
#include "pad/RbaFields.h"
#include "pad/TaggedField.h"
#include "job/LoadJob.h"

#include <cstdio>
#include <vector>

namespace korvane {
namespace {

constexpr int kLowestPinKeySet = 185;
constexpr int kHighestPinKeySet = 198;

// A substring that never fails: a start past the end gives nothing, a length
// running past the end is cut there.
std::string_view part(std::string_view text, size_t start, size_t length) {
    if (start >= text.size()) return {};
    return text.substr(start, length);
}

std::string withoutZerosAround(std::string_view text) {
    const size_t first = text.find_first_not_of('0');
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of('0');
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace

size_t equinoxChunkCount(size_t fileSize) { return (fileSize + kEquinoxChunkBytes - 1) / kEquinoxChunkBytes; }

std::string equinoxChunkText(const std::string& name, std::span<const uint8_t> file, size_t index) {
    const size_t start = index * kEquinoxChunkBytes;
    const size_t length = start < file.size() ? std::min(kEquinoxChunkBytes, file.size() - start) : 0;
    const bool more = start + length < file.size();
    char count[8];
    std::snprintf(count, sizeof count, "%05zu", length);
    std::string text = "PL5";
    text += kFs;
    text += more ? 'Y' : 'N';
    text += count;
    text += name;
    text += kFs;
    text.append(reinterpret_cast<const char*>(file.data()) + start, length);
    return text;
}

std::string equinoxGetVariableText(const std::string& name) {
    return std::string("v") + kFs + "GV" + kFs + "VN" + name;
}

std::string equinoxModelLetter(std::string_view reply) { return std::string(part(reply, 2, 1)); }

void takeEquinoxIdentity(std::string_view reply, DeviceInfo& deviceInfo) {
    // The check byte after ETX is no field: a reply with fewer than four fields
    // would otherwise hand it over as the OEM identifier.
    const std::vector<std::string> fields = splitFields(withoutCheckByte(reply), std::string_view("\x1c\x03", 2));
    if (fields.size() >= 4) deviceInfo.oemId = std::string(part(fields[3], 0, 12));
    if (fields.size() >= 1) deviceInfo.appVersion = std::string(part(fields[0], 2, 4));
    deviceInfo.configVersion = equinoxConfigVersion(reply);
}

std::string equinoxConfigVersion(std::string_view reply) {
    return withoutZerosAround(part(reply, 2, 4)) + withoutZerosAround(findTaggedField(reply, "MV"));
}

std::optional<std::string> requestedFileName(std::string_view reply) {
    const size_t end = reply.find(kEtx, 2);
    if (end == std::string_view::npos || reply.find('R') != 1) return std::nullopt;
    return std::string(reply.substr(2, end - 2));
}

bool isAcceptablePinKsn(std::string_view value) {
    const size_t first = value.find_first_not_of('F');
    const std::string_view ksn = first == std::string_view::npos ? std::string_view() : value.substr(first);
    if (part(ksn, 0, 3) != "3D0") return false;
    int keySet = 0;
    for (const char c : part(ksn, 3, 3)) {
        if (c < '0' || c > '9') break;
        keySet = keySet * 10 + (c - '0');
    }
    return keySet >= kLowestPinKeySet && keySet <= kHighestPinKeySet;
}

}  // namespace korvane
