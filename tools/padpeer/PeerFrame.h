#pragma once

#include <string>
#include <string_view>

namespace korvane::padpeer {

inline constexpr char kStx = 0x02;
inline constexpr char kEtx = 0x03;
inline constexpr char kEot = 0x04;
inline constexpr char kAck = 0x06;
inline constexpr char kNak = 0x15;

// How the pad computes its check byte: the XOR of the bytes after STX up to
// and including ETX, on all eight bits or on the low seven of each byte.
enum class CheckMode { eightBit, sevenBit };

// STX, text, ETX, check byte.
std::string frameOf(std::string_view text, CheckMode mode = CheckMode::eightBit);

// The same frame with a check byte that cannot pass.
std::string withBadCheck(std::string frame);

// True for STX ... ETX check with a correct eight-bit check byte.
bool isGoodFrame(std::string_view frame);

// The text between STX and ETX (empty when the frame is malformed).
std::string textOf(std::string_view frame);

}  // namespace korvane::padpeer
