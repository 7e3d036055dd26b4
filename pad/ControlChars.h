#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane {

// Control bytes of the framed pad link.
inline constexpr char kStx = 0x02;  // first byte of every frame
inline constexpr char kEtx = 0x03;  // end of the text; the check byte follows
inline constexpr char kEot = 0x04;  // optional end of a transaction, after an accepted reply
inline constexpr char kAck = 0x06;  // frame accepted
inline constexpr char kNak = 0x15;  // frame refused (bad check byte)
inline constexpr char kFs = 0x1C;   // separates records inside a message
inline constexpr char kGs = 0x1D;   // separates the parts of one record

// A pad reply for display: bytes 00-1F by name ("[SX]", "[FS]"...), 20-7A as
// they are, 7B-FF as "[%02x]" (so "{" is shown as [7b]).
std::string renderControlChars(std::string_view bytes);

// The frame with its check byte appended: the exclusive-or of every byte
// after the first (STX) up to and including the last (ETX).
std::string appendLrc(std::string_view frame);

// The same check byte written over a placeholder already at the end:
// XOR of bytes 1 to length-2, stored at length-1. Shorter than 2 bytes: no-op.
void appendLrc(char* frame, size_t length);

// STX, text, ETX and the check byte.
std::string buildFrame(std::string_view text);

// A received frame passes when its last byte is the XOR of bytes 1 to
// length-2; anything shorter than 3 bytes never passes.
bool checkLrc(std::string_view reply);

// The form the SerialPort exchange uses: every byte is masked to its low seven
// bits before the XOR; the received check byte is compared as it came.
bool checkLrcSevenBit(std::string_view reply);

}  // namespace korvane
