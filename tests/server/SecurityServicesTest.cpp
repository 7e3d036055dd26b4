#include "server/ChallengeCipher.h"
#include "server/SecurityInterface.h"
#include "server/posix/SecurityCredential.h"
#include "tests/server/ChallengeCipherAnswers.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace korvane {
namespace {

using test::kChallengeSecret;

std::vector<uint8_t> encrypt(ChallengeCipher& cipher, std::vector<uint8_t> data) {
    std::size_t length = data.size();
    EXPECT_TRUE(cipher.EncryptInPlace(data.data(), length, data.size()));
    EXPECT_EQ(length, data.size());
    return data;
}

TEST(ChallengeCipher, MatchesThePublishedRc4KeystreamForThe128BitKey) {
    ChallengeCipher cipher;
    ASSERT_TRUE(cipher.InitialiseWithKey(test::kRfc6229Key));
    const std::vector<uint8_t> expected(test::kRfc6229Keystream.begin(), test::kRfc6229Keystream.end());
    EXPECT_EQ(encrypt(cipher, std::vector<uint8_t>(32, 0)), expected);
}

TEST(ChallengeCipher, EveryCallStartsTheKeystreamAfresh) {
    ChallengeCipher cipher;
    ASSERT_TRUE(cipher.Initialise(kChallengeSecret));
    const std::vector<uint8_t> plain(test::kChallengePlain.begin(), test::kChallengePlain.end());
    const auto first = encrypt(cipher, plain);
    EXPECT_EQ(first, std::vector<uint8_t>(test::kChallengeEnciphered.begin(), test::kChallengeEnciphered.end()));
    EXPECT_EQ(encrypt(cipher, plain), first);
    // RC4 is its own inverse from a fresh schedule.
    EXPECT_EQ(encrypt(cipher, first), plain);
}

TEST(ChallengeCipher, KeyIsTheMd5OfTheWholeSecret) {
    ChallengeCipher cipher;
    ASSERT_TRUE(cipher.Initialise(kChallengeSecret));
    std::array<uint8_t, 16> md5{};
    unsigned int length = 0;
    ASSERT_EQ(EVP_Digest(kChallengeSecret, 33, md5.data(), &length, EVP_md5(), nullptr), 1);
    EXPECT_EQ(cipher.key(), md5);
    EXPECT_EQ(cipher.key(), test::kChallengeSecretMd5);
}

TEST(ChallengeCipher, RefusesALengthBeyondTheBufferAndWorkBeforeInitialise) {
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

TEST(ChallengeCipher, FailsAndHoldsNothingWithoutTheLegacyProvider) {
    ChallengeCipher cipher("/nonexistent-provider-folder");
    EXPECT_FALSE(cipher.Initialise(kChallengeSecret));
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
