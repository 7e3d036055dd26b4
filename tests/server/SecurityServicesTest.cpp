#include "server/ChallengeCipher.h"
#include "server/SecurityInterface.h"
#include "server/posix/SecurityCredential.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace korvane {
namespace {

constexpr char kSecret[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456";

std::vector<uint8_t> encrypt(ChallengeCipher& cipher, std::vector<uint8_t> data) {
    std::size_t length = data.size();
    EXPECT_TRUE(cipher.EncryptInPlace(data.data(), length, data.size()));
    EXPECT_EQ(length, data.size());
    return data;
}

TEST(ChallengeCipher, MatchesThePublishedRc4KeystreamForThe128BitKey) {
    ChallengeCipher cipher;
    std::array<uint8_t, 16> key{};
    for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(i + 1);
    ASSERT_TRUE(cipher.InitialiseWithKey(key));
    // RFC 6229, key 0x0102...10, keystream at offsets 0 and 16 (zero plaintext).
    const std::vector<uint8_t> expected = {0x9a, 0xc7, 0xcc, 0x9a, 0x60, 0x9d, 0x1e, 0xf7, 0xb2, 0x93, 0x28,
                                           0x99, 0xcd, 0xe4, 0x1b, 0x97, 0x52, 0x48, 0xc4, 0x95, 0x90, 0x14,
                                           0x12, 0x6a, 0x6e, 0x8a, 0x84, 0xf1, 0x1d, 0x1a, 0x9e, 0x1c};
    EXPECT_EQ(encrypt(cipher, std::vector<uint8_t>(32, 0)), expected);
}

TEST(ChallengeCipher, EveryCallStartsTheKeystreamAfresh) {
    ChallengeCipher cipher;
    ASSERT_TRUE(cipher.Initialise(kSecret));
    const std::vector<uint8_t> plain = {'1', '2', '3', '4', '5', '6', '7', '8'};
    const auto first = encrypt(cipher, plain);
    EXPECT_NE(first, plain);
    EXPECT_EQ(encrypt(cipher, plain), first);
    // RC4 is its own inverse from a fresh schedule.
    EXPECT_EQ(encrypt(cipher, first), plain);
}

TEST(ChallengeCipher, KeyIsTheMd5OfTheWholeSecret) {
    ChallengeCipher cipher;
    ASSERT_TRUE(cipher.Initialise(kSecret));
    std::array<uint8_t, 16> md5{};
    unsigned int length = 0;
    ASSERT_EQ(EVP_Digest(kSecret, 33, md5.data(), &length, EVP_md5(), nullptr), 1);
    EXPECT_EQ(cipher.key(), md5);
}

TEST(ChallengeCipher, RefusesALengthBeyondTheBufferAndWorkBeforeInitialise) {
    ChallengeCipher cipher;
    uint8_t buffer[8] = {};
    std::size_t length = 8;
    EXPECT_FALSE(cipher.EncryptInPlace(buffer, length, sizeof buffer)) << "not initialised";
    EXPECT_FALSE(cipher.GenerateRandom(sizeof buffer, buffer));
    ASSERT_TRUE(cipher.Initialise(kSecret));
    length = 9;
    EXPECT_FALSE(cipher.EncryptInPlace(buffer, length, sizeof buffer));
    uint8_t a[32] = {}, b[32] = {};
    EXPECT_TRUE(cipher.GenerateRandom(sizeof a, a));
    EXPECT_TRUE(cipher.GenerateRandom(sizeof b, b));
    EXPECT_NE(std::string(a, a + 32), std::string(b, b + 32));
}

TEST(ChallengeCipher, FailsAndHoldsNothingWithoutTheLegacyProvider) {
    ChallengeCipher cipher("/nonexistent-provider-folder");
    EXPECT_FALSE(cipher.Initialise(kSecret));
    EXPECT_FALSE(cipher.isReady());
    cipher.Release();  // nothing is released twice
    cipher.Release();
    uint8_t buffer[4] = {};
    std::size_t length = 4;
    EXPECT_FALSE(cipher.EncryptInPlace(buffer, length, 4));
}

TEST(SecurityInterface, ClientContextAllowsTls10To12WithoutVerification) {
    SecurityInterface security;
    ASSERT_TRUE(security.Initialise());
    ASSERT_NE(security.CredentialHandle(), nullptr);
    SSL_CTX* context = security.CredentialHandle()->context;
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(SSL_CTX_get_min_proto_version(context), TLS1_VERSION);
    EXPECT_EQ(SSL_CTX_get_max_proto_version(context), TLS1_2_VERSION);
    EXPECT_EQ(SSL_CTX_get_security_level(context), 0);
    EXPECT_EQ(SSL_CTX_get_verify_mode(context), SSL_VERIFY_NONE);
    EXPECT_TRUE(security.Initialise()) << "a second start keeps the credential";
    EXPECT_EQ(security.CredentialHandle()->context, context);
    security.Release();
    security.Release();
    EXPECT_EQ(security.CredentialHandle(), nullptr);
}

}  // namespace
}  // namespace korvane
