#include "payloads/Base64.h"

#include <array>

namespace korvane {

namespace {

constexpr uint8_t kNotInAlphabet = 0xFF;

constexpr std::array<uint8_t, 256> makeDecodeTable() {
    std::array<uint8_t, 256> table{};
    table.fill(kNotInAlphabet);
    for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i)
        table[static_cast<uint8_t>(kBase64Alphabet[i])] = static_cast<uint8_t>(i);
    return table;
}

constexpr std::array<uint8_t, 256> kDecodeTable = makeDecodeTable();

}  // namespace

std::vector<uint8_t> decodeBase64(std::string_view text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3 + 2);
    uint32_t group = 0;
    int characters = 0;
    for (char c : text) {
        // "=" is outside the table too, so it ends decoding like any stranger.
        const uint8_t value = kDecodeTable[static_cast<uint8_t>(c)];
        if (value == kNotInAlphabet) break;
        group = (group << 6) | value;
        if (++characters == 4) {
            bytes.push_back(static_cast<uint8_t>(group >> 16));
            bytes.push_back(static_cast<uint8_t>(group >> 8));
            bytes.push_back(static_cast<uint8_t>(group));
            group = 0;
            characters = 0;
        }
    }
    if (characters > 1) {
        group <<= 6 * (4 - characters);
        bytes.push_back(static_cast<uint8_t>(group >> 16));
        if (characters == 3) bytes.push_back(static_cast<uint8_t>(group >> 8));
    }
    return bytes;
}

}  // namespace korvane
