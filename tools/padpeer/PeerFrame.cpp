#include "tools/padpeer/PeerFrame.h"

namespace korvane::padpeer {
namespace {

char checkOf(std::string_view bytes, CheckMode mode) {
    const unsigned char mask = mode == CheckMode::sevenBit ? 0x7F : 0xFF;
    unsigned char check = 0;
    for (const char byte : bytes) check ^= static_cast<unsigned char>(byte) & mask;
    return static_cast<char>(check);
}

}  // namespace

std::string frameOf(std::string_view text, CheckMode mode) {
    std::string body(text);
    body += kEtx;
    std::string frame(1, kStx);
    frame += body;
    frame += checkOf(body, mode);
    return frame;
}

std::string withBadCheck(std::string frame) {
    if (!frame.empty()) frame.back() = static_cast<char>(frame.back() ^ 0x01);
    return frame;
}

bool isGoodFrame(std::string_view frame) {
    if (frame.size() < 3 || frame.front() != kStx || frame[frame.size() - 2] != kEtx) return false;
    return checkOf(frame.substr(1, frame.size() - 2), CheckMode::eightBit) == frame.back();
}

std::string textOf(std::string_view frame) {
    if (frame.size() < 3 || frame.front() != kStx) return {};
    const size_t end = frame.find(kEtx, 1);
    if (end == std::string_view::npos) return {};
    return std::string(frame.substr(1, end - 1));
}

}  // namespace korvane::padpeer
