#include "server/Md5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

namespace korvane {
namespace {

std::string hex(const Md5::Digest& digest) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

Md5::Digest openSslMd5(const std::vector<uint8_t>& data) {
    Md5::Digest digest{};
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr), 1);
    return digest;
}

std::vector<uint8_t> randomBytes(std::size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> data(size);
    for (auto& byte : data) byte = static_cast<uint8_t>(generator());
    return data;
}

TEST(Md5, MatchesTheTestSuiteOfItsDefinition) {
    const struct {
        const char* message;
        const char* digest;
    } suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& entry : suite) {
        const std::string message = entry.message;
        EXPECT_EQ(hex(Md5::digest(message.data(), message.size())), entry.digest) << '"' << message << '"';
    }
}

TEST(Md5, AgreesWithOpenSslAroundBlockBoundariesAndOnLargeBuffers) {
    const std::size_t sizes[] = {0,   1,   55,   56,   57,    63,    64,    65,          119,
                                 120, 127, 128,  129,  1000,  4095,  4096,  65536 + 7,   (1u << 20) - 1,
                                 1u << 20};
    uint32_t seed = 1;
    for (std::size_t size : sizes) {
        const auto data = randomBytes(size, seed++);
        EXPECT_EQ(Md5::digest(data.data(), data.size()), openSslMd5(data)) << size << " bytes";
    }
}

TEST(Md5, PiecesOfAnySizeGiveTheOneShotDigest) {
    const auto data = randomBytes(200000, 99);
    const auto expected = openSslMd5(data);
    // Uneven pieces cross the 64-byte blocks at every offset.
    for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 1000u, 4097u}) {
        Md5 md5;
        for (std::size_t offset = 0; offset < data.size(); offset += piece)
            md5.update(data.data() + offset, std::min(piece, data.size() - offset));
        EXPECT_EQ(md5.finish(), expected) << "pieces of " << piece;
    }
}

TEST(Md5, FinishLeavesTheObjectReadyForTheNextMessage) {
    Md5 md5;
    md5.update("abc", 3);
    md5.finish();
    md5.update("abc", 3);
    EXPECT_EQ(hex(md5.finish()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex(md5.finish()), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
}  // namespace korvane
