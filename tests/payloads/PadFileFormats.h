#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Readers for the formats of the embedded pad files, written for the tests
// from the format definitions (RFC 1950-1952, POSIX ustar, PNG) and sharing
// no code with the generator. Every reader throws std::runtime_error on
// anything malformed, check values included.
namespace korvane::test {

using Bytes = std::vector<uint8_t>;

uint32_t testCrc32(std::span<const uint8_t> data);
uint32_t testAdler32(std::span<const uint8_t> data);

// A raw deflate stream, every block type. `consumed` gets the stream's length.
Bytes inflate(std::span<const uint8_t> stream, std::size_t* consumed = nullptr);

struct GzipMember {
    uint8_t flags = 0;
    uint32_t mtime = 0;
    uint8_t extraFlags = 0;
    uint8_t os = 0;
    std::string storedName;     // empty when the header has none
    std::size_t headerSize = 0;
    Bytes data;                 // inflated; its CRC-32 and length matched the trailer
};
// Exactly one member, nothing after it.
GzipMember readGzip(std::span<const uint8_t> file);

struct TarEntry {
    std::string name;
    char type = 0;
    uint32_t mode = 0;
    uint32_t mtime = 0;
    Bytes data;
};
// A ustar archive ending in two zero blocks; header check sums verified.
std::vector<TarEntry> readTar(std::span<const uint8_t> archive);

struct PngImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t bitDepth = 0;
    uint8_t colourType = 0;
    uint8_t interlace = 0;
    std::vector<std::string> chunkTypes;
    Bytes scanlines;  // the inflated IDAT data, filter bytes included
};
// Signature, chunk CRCs, IHDR first and IEND last, the zlib header and
// Adler-32 of the image data, and its length for the stated size.
PngImage readPng(std::span<const uint8_t> file);

}  // namespace korvane::test
