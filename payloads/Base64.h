#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace korvane {

// The alphabet of RFC 4648, as the embedded payloads are written in it.
inline constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Standard Base64. Decoding ends at the first "=" or at the first character
// outside the alphabet (a line break included), so only what comes before it
// counts. Every group of four characters gives three bytes; a last group of
// n characters (1 to 3) is zero-filled and gives n - 1 bytes, so padding is
// optional and a lone last character gives nothing.
std::vector<uint8_t> decodeBase64(std::string_view text);

}  // namespace korvane
