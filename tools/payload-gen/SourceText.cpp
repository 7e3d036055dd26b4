#include "tools/payload-gen/SourceText.h"

#include <cstdio>

namespace korvane::payloadgen {

std::string encodeBase64(std::span<const uint8_t> data) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const uint32_t group = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) text += alphabet[(group >> shift) & 63];
    }
    const std::size_t rest = data.size() - i;
    if (rest > 0) {
        uint32_t group = uint32_t(data[i]) << 16;
        if (rest == 2) group |= uint32_t(data[i + 1]) << 8;
        // n bytes take n + 1 characters.
        for (std::size_t k = 0; k <= rest; ++k) text += alphabet[(group >> (18 - 6 * k)) & 63];
    }
    return text;
}

std::string cppStringLiteral(std::string_view text, std::size_t width) {
    std::string out;
    std::string piece;
    const auto flush = [&] {
        out += "    \"" + piece + "\"\n";
        piece.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::string escaped;
        if (c == '"' || c == '\\') escaped = std::string("\\") + char(c);
        else if (c == '\n') escaped = "\\n";
        else if (c == '\r') escaped = "\\r";
        else if (c == '\t') escaped = "\\t";
        else if (c < 0x20 || c >= 0x7F) {
            // Octal, three digits always, so that a following digit cannot join it.
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\%03o", c);
            escaped = buffer;
        } else escaped = std::string(1, char(c));
        if (piece.size() + escaped.size() > width) flush();
        piece += escaped;
        if (c == '\n' && i + 1 < text.size()) flush();
    }
    if (!piece.empty() || out.empty()) flush();
    out.back() = ';';  // the caller ends the definition
    out += "\n";
    return out;
}

}  // namespace korvane::payloadgen
