#include "tools/load-server/ChallengeKey.h"

#include <climits>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

namespace korvane {

ChallengeKey::~ChallengeKey() {
    EVP_CIPHER_free(rc4_);
    if (legacyProvider_ != nullptr) OSSL_PROVIDER_unload(legacyProvider_);
    if (defaultProvider_ != nullptr) OSSL_PROVIDER_unload(defaultProvider_);
    OSSL_LIB_CTX_free(library_);
    OPENSSL_cleanse(key_, sizeof key_);
}

bool ChallengeKey::initialise(const std::string& secret, std::string& error) {
    library_ = OSSL_LIB_CTX_new();
    // Loading only "legacy" would leave the context without MD5.
    if (library_ != nullptr) {
        defaultProvider_ = OSSL_PROVIDER_load(library_, "default");
        legacyProvider_ = OSSL_PROVIDER_load(library_, "legacy");
    }
    if (defaultProvider_ == nullptr || legacyProvider_ == nullptr) {
        error = "cannot load the OpenSSL default and legacy providers (RC4 lives in the legacy one)";
        return false;
    }
    rc4_ = EVP_CIPHER_fetch(library_, "RC4", nullptr);
    EVP_MD* md5 = EVP_MD_fetch(library_, "MD5", nullptr);
    unsigned int digestLength = 0;
    const bool hashed = md5 != nullptr &&
                        EVP_Digest(secret.data(), secret.size(), key_, &digestLength, md5, nullptr) == 1 &&
                        digestLength == sizeof key_;
    EVP_MD_free(md5);
    if (rc4_ == nullptr || !hashed) {
        error = "RC4 or MD5 is not available from OpenSSL";
        return false;
    }
    return true;
}

std::vector<uint8_t> ChallengeKey::encipher(const std::vector<uint8_t>& plain) const {
    std::vector<uint8_t> out(plain.size());
    if (plain.empty() || rc4_ == nullptr || plain.size() > static_cast<std::size_t>(INT_MAX)) return out;
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    int written = 0;
    const bool done =
        context != nullptr && EVP_EncryptInit_ex2(context, rc4_, key_, nullptr, nullptr) == 1 &&
        EVP_EncryptUpdate(context, out.data(), &written, plain.data(), static_cast<int>(plain.size())) == 1;
    EVP_CIPHER_CTX_free(context);
    if (!done) out.assign(plain.size(), 0);
    return out;
}

std::string ChallengeKey::answerFor(const std::string& challengeText) const {
    if (challengeText.size() % 2 != 0) return {};
    return hexEncode(encipher(hexDecode(challengeText)));
}

bool ChallengeKey::randomBytes(uint8_t* buffer, std::size_t length) {
    return RAND_bytes(buffer, static_cast<int>(length)) == 1;
}

std::string hexEncode(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

namespace {

uint8_t nibble(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    return 0;
}

}  // namespace

std::vector<uint8_t> hexDecode(const std::string& text) {
    std::vector<uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(nibble(text[2 * i]) << 4 | nibble(text[2 * i + 1]));
    return bytes;
}

}  // namespace korvane
