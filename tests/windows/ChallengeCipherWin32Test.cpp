// The challenge cipher with CryptoAPI: the same answers as on Linux, since
// the load server computes them too.
#include "server/ChallengeCipher.h"
#include "server/Md5.h"
#include "tests/server/ChallengeCipherAnswers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

using test::kChallengeSecret;

template <std::size_t N>
std::vector<uint8_t> bytes(const std::array<uint8_t, N>& values) {
    return std::vector<uint8_t>(values.begin(), values.end());
}

std::vector<uint8_t> encrypt(ChallengeCipher& cipher, std::vector<uint8_t> data) {
    std::size_t length = data.size();
    EXPECT_TRUE(cipher.EncryptInPlace(data.data(), length, data.size()));
    EXPECT_EQ(length, data.size());
    return data;
}

TEST(ChallengeCipherWin32, MatchesThePublishedRc4KeystreamForAnImportedKey) {
    ChallengeCipher cipher;
    ASSERT_TRUE(cipher.InitialiseWithKey(test::kRfc6229Key));
    EXPECT_EQ(encrypt(cipher, std::vector<uint8_t>(32, 0)), bytes(test::kRfc6229Keystream));
    EXPECT_EQ(cipher.key(), test::kRfc6229Key);
}

// The provider's derived key is not readable; that it is MD5(secret) shows
// in what it enciphers, which must equal the imported MD5 key's output.
TEST(ChallengeCipherWin32, TheDerivedKeyIsTheMd5OfTheWholeSecret) {
    ChallengeCipher derived;
    ASSERT_TRUE(derived.Initialise(kChallengeSecret));
    EXPECT_EQ(derived.key(), test::kChallengeSecretMd5);
    EXPECT_EQ(encrypt(derived, bytes(test::kChallengePlain)), bytes(test::kChallengeEnciphered));

    ChallengeCipher imported;
    ASSERT_TRUE(imported.InitialiseWithKey(test::kChallengeSecretMd5));
    const std::vector<uint8_t> longer(300, 0x5A);
    EXPECT_EQ(encrypt(derived, longer), encrypt(imported, longer));

    // The system's own MD5 agrees with the provider's.
    const auto digest = Md5::digest(kChallengeSecret, 33);
    EXPECT_EQ(std::vector<uint8_t>(digest.begin(), digest.end()), bytes(test::kChallengeSecretMd5));
}

TEST(ChallengeCipherWin32, EveryCallWithTheFinalFlagStartsTheKeystreamAfresh) {
    ChallengeCipher cipher;
    ASSERT_TRUE(cipher.Initialise(kChallengeSecret));
    const std::vector<uint8_t> plain = bytes(test::kChallengePlain);
    // Within one load the server's challenge is enciphered first, the client's second.
    for (int call = 0; call < 3; ++call)
        EXPECT_EQ(encrypt(cipher, plain), bytes(test::kChallengeEnciphered)) << "call " << call;
    EXPECT_EQ(encrypt(cipher, bytes(test::kChallengeEnciphered)), plain);
}

TEST(ChallengeCipherWin32, RefusesALengthBeyondTheBufferAndWorkBeforeInitialise) {
    ChallengeCipher cipher;
    uint8_t buffer[8] = {};
    std::size_t length = 8;
    EXPECT_FALSE(cipher.EncryptInPlace(buffer, length, sizeof buffer)) << "not initialised";
    EXPECT_FALSE(cipher.GenerateRandom(sizeof buffer, buffer));
    ASSERT_TRUE(cipher.Initialise(kChallengeSecret));
    length = 9;
    EXPECT_FALSE(cipher.EncryptInPlace(buffer, length, sizeof buffer));
    uint8_t a[32] = {}, b[32] = {};
    EXPECT_TRUE(cipher.GenerateRandom(sizeof a, a));
    EXPECT_TRUE(cipher.GenerateRandom(sizeof b, b));
    EXPECT_NE(std::string(a, a + 32), std::string(b, b + 32));
}

TEST(ChallengeCipherWin32, ReleaseHoldsNothingAndIsSafeTwice) {
    ChallengeCipher cipher;
    ASSERT_TRUE(cipher.Initialise(kChallengeSecret));
    EXPECT_TRUE(cipher.isReady());
    cipher.Release();
    cipher.Release();
    EXPECT_FALSE(cipher.isReady());
    uint8_t buffer[4] = {};
    std::size_t length = 4;
    EXPECT_FALSE(cipher.EncryptInPlace(buffer, length, 4));
    EXPECT_EQ(cipher.key(), (std::array<uint8_t, 16>{}));
}

}  // namespace
}  // namespace korvane
