#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace korvane::payloadgen {

// CRC-32 of gzip and PNG (reflected polynomial EDB88320). `crc` continues an
// earlier call, so a PNG chunk's type and data can be fed separately.
uint32_t crc32(std::span<const uint8_t> data, uint32_t crc = 0);

// Adler-32 of the zlib trailer.
uint32_t adler32(std::span<const uint8_t> data);

// SHA-256 (FIPS 180-4): the digests of the prompt packages' headers and hash lists.
std::array<uint8_t, 32> sha256(std::span<const uint8_t> data);

// Upper-case hexadecimal, two digits per byte.
std::string hexText(std::span<const uint8_t> data);

}  // namespace korvane::payloadgen
