#include "tools/payload-gen/Containers.h"

#include "tools/payload-gen/Checksums.h"
#include "tools/payload-gen/Deflate.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace korvane::payloadgen {

namespace {

constexpr std::size_t kTarBlock = 512;
constexpr std::size_t kTarRecord = 10240;

void putLittleEndian(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putBigEndian(Bytes& out, uint32_t value) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A NUL-terminated octal field of `width` bytes.
void putOctal(uint8_t* field, std::size_t width, uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llo", int(width - 1), static_cast<unsigned long long>(value));
    if (std::strlen(text) != width - 1) throw std::runtime_error("tar field overflow");
    std::memcpy(field, text, width);
}

}  // namespace

Bytes gzip(std::span<const uint8_t> data, const GzipHeader& header, bool storedOnly) {
    constexpr uint8_t kNameFlag = 0x08;
    Bytes out = {0x1F, 0x8B, 8, header.storedName.empty() ? uint8_t(0) : kNameFlag};
    putLittleEndian(out, header.mtime);
    out.push_back(0);    // no extra flags
    out.push_back(255);  // operating system unknown
    if (!header.storedName.empty()) {
        out.insert(out.end(), header.storedName.begin(), header.storedName.end());
        out.push_back(0);
    }
    const Bytes body = deflate(data, storedOnly);
    out.insert(out.end(), body.begin(), body.end());
    putLittleEndian(out, crc32(data));
    putLittleEndian(out, static_cast<uint32_t>(data.size()));
    return out;
}

Bytes zlibStream(std::span<const uint8_t> data, bool storedOnly) {
    // 32 KiB window, deflate, lowest level flag: 78 01 passes the header check.
    Bytes out = {0x78, 0x01};
    const Bytes body = deflate(data, storedOnly);
    out.insert(out.end(), body.begin(), body.end());
    putBigEndian(out, adler32(data));
    return out;
}

Bytes tarArchive(const std::vector<TarMember>& members, uint32_t mtime) {
    Bytes out;
    for (const TarMember& member : members) {
        if (member.name.empty() || member.name.size() > 100) throw std::runtime_error("bad tar name " + member.name);
        uint8_t header[kTarBlock] = {};
        std::memcpy(header, member.name.data(), member.name.size());
        putOctal(header + 100, 8, 0644);
        putOctal(header + 108, 8, 0);
        putOctal(header + 116, 8, 0);
        putOctal(header + 124, 12, member.data.size());
        putOctal(header + 136, 12, mtime);
        header[156] = '0';
        std::memcpy(header + 257, "ustar", 6);
        std::memcpy(header + 263, "00", 2);
        putOctal(header + 329, 8, 0);
        putOctal(header + 337, 8, 0);
        // The check sum is taken with its own field read as spaces.
        std::memset(header + 148, ' ', 8);
        unsigned sum = 0;
        for (uint8_t byte : header) sum += byte;
        putOctal(header + 148, 7, sum);
        header[155] = ' ';
        out.insert(out.end(), header, header + kTarBlock);
        out.insert(out.end(), member.data.begin(), member.data.end());
        out.resize((out.size() + kTarBlock - 1) / kTarBlock * kTarBlock, 0);
    }
    out.resize(out.size() + 2 * kTarBlock, 0);
    out.resize((out.size() + kTarRecord - 1) / kTarRecord * kTarRecord, 0);
    return out;
}

}  // namespace korvane::payloadgen
