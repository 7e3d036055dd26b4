#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

// Hexadecimal text as the load server protocol writes it: two upper-case
// digits per byte, high nibble first.
std::string HexEncode(const uint8_t* bytes, std::size_t length);

// One byte from two digits, high nibble first. Only "0" to "9" and "A" to "F"
// count; any other character, lower-case letters included, gives 0 for its
// nibble. The load server computes its answers with the same rule, so a
// lenient decoding here would break the challenge instead of mending it.
uint8_t HexDecode(char high, char low);

}  // namespace korvane
