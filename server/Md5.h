#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvane {

// MD5 (RFC 1321), the digest the load server announces for every file it
// sends. Incremental: feed any number of `update` calls, then `finish`.
class Md5 {
public:
    using Digest = std::array<uint8_t, 16>;

    Md5() { reset(); }

    void reset();
    void update(const void* data, std::size_t length);
    // Pads, returns the digest and leaves the object reset for the next message.
    Digest finish();

    static Digest digest(const void* data, std::size_t length);

private:
    std::array<uint32_t, 4> state_{};
    uint64_t totalBytes_ = 0;
    std::array<uint8_t, 64> pending_{};
    std::size_t pendingBytes_ = 0;
};

}  // namespace korvane
