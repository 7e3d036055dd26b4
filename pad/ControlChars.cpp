#include "pad/ControlChars.h"

#include <cstdio>

namespace korvane {
namespace {

constexpr const char* kControlNames[32] = {
    "[NL]", "[SH]", "[SX]", "[EX]", "[ET]", "[EQ]", "[AK]", "[BL]", "[BS]", "[HT]", "[LF]",
    "[VT]", "[FF]", "[CR]", "[SO]", "[SI]", "[DL]", "[D1]", "[D2]", "[D3]", "[D4]", "[NK]",
    "[SY]", "[TB]", "[CN]", "[EM]", "[SB]", "[ES]", "[FS]", "[GS]", "[RS]", "[US]",
};

unsigned char xorOf(std::string_view bytes, unsigned char mask) {
    unsigned char check = 0;
    for (const char byte : bytes) check ^= static_cast<unsigned char>(byte) & mask;
    return check;
}

bool checkWithMask(std::string_view reply, unsigned char mask) {
    if (reply.size() < 3) return false;
    const unsigned char expected = xorOf(reply.substr(1, reply.size() - 2), mask);
    return static_cast<unsigned char>(reply.back()) == expected;
}

}  // namespace

std::string renderControlChars(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x20) {
            text += kControlNames[value];
        } else if (value <= 0x7A) {
            text += byte;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "[%02x]", value);
            text += hex;
        }
    }
    return text;
}

std::string appendLrc(std::string_view frame) {
    std::string result(frame);
    result += static_cast<char>(frame.empty() ? 0 : xorOf(frame.substr(1), 0xFF));
    return result;
}

void appendLrc(char* frame, size_t length) {
    if (frame == nullptr || length < 2) return;
    frame[length - 1] = static_cast<char>(xorOf(std::string_view(frame + 1, length - 2), 0xFF));
}

std::string buildFrame(std::string_view text) {
    std::string frame;
    frame.reserve(text.size() + 3);
    frame += kStx;
    frame += text;
    frame += kEtx;
    return appendLrc(frame);
}

bool checkLrc(std::string_view reply) { return checkWithMask(reply, 0xFF); }

bool checkLrcSevenBit(std::string_view reply) { return checkWithMask(reply, 0x7F); }

}  // namespace korvane
