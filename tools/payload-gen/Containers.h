#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace korvane::payloadgen {

using Bytes = std::vector<uint8_t>;

struct GzipHeader {
    std::string storedName;  // empty: no name field
    uint32_t mtime = 0;      // 0: no time stamp
};

// A gzip member (RFC 1952) with a fixed header: no extra flags, OS byte 255
// ("unknown") since the host the generator runs on must not show in its output.
Bytes gzip(std::span<const uint8_t> data, const GzipHeader& header, bool storedOnly);

// A zlib stream (RFC 1950), as PNG wants it.
Bytes zlibStream(std::span<const uint8_t> data, bool storedOnly);

struct TarMember {
    std::string name;
    Bytes data;
};

// A POSIX ustar archive of plain files, every header field fixed (mode 0644,
// owner 0/0, no owner names, the given time) and the whole padded to the usual
// 10240-byte records, as tar itself writes it.
Bytes tarArchive(const std::vector<TarMember>& members, uint32_t mtime);

}  // namespace korvane::payloadgen
