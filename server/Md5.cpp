#include "server/Md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace korvane {

namespace {

inline uint32_t loadWord(const uint8_t* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
    return word;
}

inline void storeWord(uint8_t* p, uint32_t word) {
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
    std::memcpy(p, &word, sizeof word);
}

// The round functions are written so that as little as possible waits for the
// previous step's result: the word and constant are added first, and G is split
// into two additions of disjoint bit sets, one of which does not depend on `b`.
#define KORVANE_MD5_F(a, b, c, d, m, k, s)         \
    a += (m) + (k);                                \
    a += (d) ^ ((b) & ((c) ^ (d)));                \
    a = std::rotl(a, s) + (b);
#define KORVANE_MD5_G(a, b, c, d, m, k, s)         \
    a += (m) + (k);                                \
    a += (c) & ~(d);                               \
    a += (b) & (d);                                \
    a = std::rotl(a, s) + (b);
#define KORVANE_MD5_H(a, b, c, d, m, k, s)         \
    a += (m) + (k);                                \
    a += (b) ^ (c) ^ (d);                          \
    a = std::rotl(a, s) + (b);
#define KORVANE_MD5_I(a, b, c, d, m, k, s)         \
    a += (m) + (k);                                \
    a += (c) ^ ((b) | ~(d));                       \
    a = std::rotl(a, s) + (b);

void transform(std::array<uint32_t, 4>& state, const uint8_t* data, std::size_t blocks) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks > 0; --blocks, data += 64) {
        uint32_t m[16];
        for (int i = 0; i < 16; ++i) m[i] = loadWord(data + 4 * i);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        KORVANE_MD5_F(a, b, c, d, m[0], 0xd76aa478u, 7)
        KORVANE_MD5_F(d, a, b, c, m[1], 0xe8c7b756u, 12)
        KORVANE_MD5_F(c, d, a, b, m[2], 0x242070dbu, 17)
        KORVANE_MD5_F(b, c, d, a, m[3], 0xc1bdceeeu, 22)
        KORVANE_MD5_F(a, b, c, d, m[4], 0xf57c0fafu, 7)
        KORVANE_MD5_F(d, a, b, c, m[5], 0x4787c62au, 12)
        KORVANE_MD5_F(c, d, a, b, m[6], 0xa8304613u, 17)
        KORVANE_MD5_F(b, c, d, a, m[7], 0xfd469501u, 22)
        KORVANE_MD5_F(a, b, c, d, m[8], 0x698098d8u, 7)
        KORVANE_MD5_F(d, a, b, c, m[9], 0x8b44f7afu, 12)
        KORVANE_MD5_F(c, d, a, b, m[10], 0xffff5bb1u, 17)
        KORVANE_MD5_F(b, c, d, a, m[11], 0x895cd7beu, 22)
        KORVANE_MD5_F(a, b, c, d, m[12], 0x6b901122u, 7)
        KORVANE_MD5_F(d, a, b, c, m[13], 0xfd987193u, 12)
        KORVANE_MD5_F(c, d, a, b, m[14], 0xa679438eu, 17)
        KORVANE_MD5_F(b, c, d, a, m[15], 0x49b40821u, 22)

        KORVANE_MD5_G(a, b, c, d, m[1], 0xf61e2562u, 5)
        KORVANE_MD5_G(d, a, b, c, m[6], 0xc040b340u, 9)
        KORVANE_MD5_G(c, d, a, b, m[11], 0x265e5a51u, 14)
        KORVANE_MD5_G(b, c, d, a, m[0], 0xe9b6c7aau, 20)
        KORVANE_MD5_G(a, b, c, d, m[5], 0xd62f105du, 5)
        KORVANE_MD5_G(d, a, b, c, m[10], 0x02441453u, 9)
        KORVANE_MD5_G(c, d, a, b, m[15], 0xd8a1e681u, 14)
        KORVANE_MD5_G(b, c, d, a, m[4], 0xe7d3fbc8u, 20)
        KORVANE_MD5_G(a, b, c, d, m[9], 0x21e1cde6u, 5)
        KORVANE_MD5_G(d, a, b, c, m[14], 0xc33707d6u, 9)
        KORVANE_MD5_G(c, d, a, b, m[3], 0xf4d50d87u, 14)
        KORVANE_MD5_G(b, c, d, a, m[8], 0x455a14edu, 20)
        KORVANE_MD5_G(a, b, c, d, m[13], 0xa9e3e905u, 5)
        KORVANE_MD5_G(d, a, b, c, m[2], 0xfcefa3f8u, 9)
        KORVANE_MD5_G(c, d, a, b, m[7], 0x676f02d9u, 14)
        KORVANE_MD5_G(b, c, d, a, m[12], 0x8d2a4c8au, 20)

        KORVANE_MD5_H(a, b, c, d, m[5], 0xfffa3942u, 4)
        KORVANE_MD5_H(d, a, b, c, m[8], 0x8771f681u, 11)
        KORVANE_MD5_H(c, d, a, b, m[11], 0x6d9d6122u, 16)
        KORVANE_MD5_H(b, c, d, a, m[14], 0xfde5380cu, 23)
        KORVANE_MD5_H(a, b, c, d, m[1], 0xa4beea44u, 4)
        KORVANE_MD5_H(d, a, b, c, m[4], 0x4bdecfa9u, 11)
        KORVANE_MD5_H(c, d, a, b, m[7], 0xf6bb4b60u, 16)
        KORVANE_MD5_H(b, c, d, a, m[10], 0xbebfbc70u, 23)
        KORVANE_MD5_H(a, b, c, d, m[13], 0x289b7ec6u, 4)
        KORVANE_MD5_H(d, a, b, c, m[0], 0xeaa127fau, 11)
        KORVANE_MD5_H(c, d, a, b, m[3], 0xd4ef3085u, 16)
        KORVANE_MD5_H(b, c, d, a, m[6], 0x04881d05u, 23)
        KORVANE_MD5_H(a, b, c, d, m[9], 0xd9d4d039u, 4)
        KORVANE_MD5_H(d, a, b, c, m[12], 0xe6db99e5u, 11)
        KORVANE_MD5_H(c, d, a, b, m[15], 0x1fa27cf8u, 16)
        KORVANE_MD5_H(b, c, d, a, m[2], 0xc4ac5665u, 23)

        KORVANE_MD5_I(a, b, c, d, m[0], 0xf4292244u, 6)
        KORVANE_MD5_I(d, a, b, c, m[7], 0x432aff97u, 10)
        KORVANE_MD5_I(c, d, a, b, m[14], 0xab9423a7u, 15)
        KORVANE_MD5_I(b, c, d, a, m[5], 0xfc93a039u, 21)
        KORVANE_MD5_I(a, b, c, d, m[12], 0x655b59c3u, 6)
        KORVANE_MD5_I(d, a, b, c, m[3], 0x8f0ccc92u, 10)
        KORVANE_MD5_I(c, d, a, b, m[10], 0xffeff47du, 15)
        KORVANE_MD5_I(b, c, d, a, m[1], 0x85845dd1u, 21)
        KORVANE_MD5_I(a, b, c, d, m[8], 0x6fa87e4fu, 6)
        KORVANE_MD5_I(d, a, b, c, m[15], 0xfe2ce6e0u, 10)
        KORVANE_MD5_I(c, d, a, b, m[6], 0xa3014314u, 15)
        KORVANE_MD5_I(b, c, d, a, m[13], 0x4e0811a1u, 21)
        KORVANE_MD5_I(a, b, c, d, m[4], 0xf7537e82u, 6)
        KORVANE_MD5_I(d, a, b, c, m[11], 0xbd3af235u, 10)
        KORVANE_MD5_I(c, d, a, b, m[2], 0x2ad7d2bbu, 15)
        KORVANE_MD5_I(b, c, d, a, m[9], 0xeb86d391u, 21)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state = {a, b, c, d};
}

#undef KORVANE_MD5_F
#undef KORVANE_MD5_G
#undef KORVANE_MD5_H
#undef KORVANE_MD5_I

}  // namespace

void Md5::reset() {
    state_ = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    totalBytes_ = 0;
    pendingBytes_ = 0;
}

void Md5::update(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    totalBytes_ += length;
    if (pendingBytes_ > 0) {
        const std::size_t take = std::min(length, pending_.size() - pendingBytes_);
        std::memcpy(pending_.data() + pendingBytes_, bytes, take);
        pendingBytes_ += take;
        bytes += take;
        length -= take;
        if (pendingBytes_ < pending_.size()) return;
        transform(state_, pending_.data(), 1);
        pendingBytes_ = 0;
    }
    // Whole blocks straight from the caller's memory.
    const std::size_t blocks = length / 64;
    if (blocks > 0) transform(state_, bytes, blocks);
    bytes += blocks * 64;
    length -= blocks * 64;
    if (length > 0) std::memcpy(pending_.data(), bytes, length);
    pendingBytes_ = length;
}

Md5::Digest Md5::finish() {
    const uint64_t bitLength = totalBytes_ * 8u;
    std::array<uint8_t, 72> tail{};
    tail[0] = 0x80;
    // Pad to 56 bytes modulo 64, then the length in bits, little-endian.
    const std::size_t padding = (pendingBytes_ < 56 ? 56 : 120) - pendingBytes_;
    for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<uint8_t>(bitLength >> (8 * i));
    update(tail.data(), padding + 8);

    Digest digest{};
    for (int i = 0; i < 4; ++i) storeWord(digest.data() + 4 * i, state_[i]);
    reset();
    return digest;
}

Md5::Digest Md5::digest(const void* data, std::size_t length) {
    Md5 md5;
    md5.update(data, length);
    return md5.finish();
}

}  // namespace korvane
