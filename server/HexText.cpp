#include "server/HexText.h"

namespace korvane {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

uint8_t nibble(char digit) {
    if (digit >= '0' && digit <= '9') return static_cast<uint8_t>(digit - '0');
    if (digit >= 'A' && digit <= 'F') return static_cast<uint8_t>(digit - 'A' + 10);
    return 0;
}

}  // namespace

std::string HexEncode(const uint8_t* bytes, std::size_t length) {
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

uint8_t HexDecode(char high, char low) { return static_cast<uint8_t>(nibble(high) << 4 | nibble(low)); }

}  // namespace korvane
