#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace korvane::payloadgen {

// A raw deflate stream (RFC 1951) whose bytes depend on the input alone, so
// that the committed payloads can be rebuilt exactly on any machine.
// Compressed: greedy LZ77 over the 32 KiB window with the fixed Huffman codes,
// and a stored block wherever storing comes out smaller (already compressed
// images inside the bundles). `storedOnly` writes stored blocks throughout.
std::vector<uint8_t> deflate(std::span<const uint8_t> data, bool storedOnly);

}  // namespace korvane::payloadgen
