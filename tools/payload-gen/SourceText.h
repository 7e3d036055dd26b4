#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvane::payloadgen {

// RFC 4648 Base64 without "=" padding and without line breaks, the form the
// program keeps its payloads in.
std::string encodeBase64(std::span<const uint8_t> data);

// A C++ string literal for `text`, cut into pieces of at most `width`
// characters (and after each line break of the text), one piece per line,
// each line indented by four spaces, the last ending in the definition's ";".
// Only printable ASCII passes unescaped.
std::string cppStringLiteral(std::string_view text, std::size_t width);

}  // namespace korvane::payloadgen
