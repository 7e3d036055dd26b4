#include "server/ChallengeCipher.h"

#include <climits>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

namespace korvane {

ChallengeCipher::ChallengeCipher(std::string moduleDirectory) : moduleDirectory_(std::move(moduleDirectory)) {}

ChallengeCipher::~ChallengeCipher() { Release(); }

ChallengeCipher& ChallengeCipher::processWide() {
    static ChallengeCipher instance;
    return instance;
}

bool ChallengeCipher::loadProviders() {
    library_ = OSSL_LIB_CTX_new();
    if (library_ == nullptr) return false;
    if (!moduleDirectory_.empty() && OSSL_PROVIDER_set_default_search_path(library_, moduleDirectory_.c_str()) != 1)
        return false;
    // Loading only "legacy" would switch the default provider off for this context.
    defaultProvider_ = OSSL_PROVIDER_load(library_, "default");
    legacyProvider_ = OSSL_PROVIDER_load(library_, "legacy");
    if (defaultProvider_ == nullptr || legacyProvider_ == nullptr) return false;
    rc4_ = EVP_CIPHER_fetch(library_, "RC4", nullptr);
    return rc4_ != nullptr;
}

bool ChallengeCipher::Initialise(const std::string& secret) {
    std::lock_guard<std::mutex> guard(lock_);
    releaseLocked();
    if (!loadProviders()) {
        releaseLocked();
        return false;
    }
    EVP_MD* md5 = EVP_MD_fetch(library_, "MD5", nullptr);
    unsigned int digestLength = 0;
    const bool hashed = md5 != nullptr &&
                        EVP_Digest(secret.data(), secret.size(), key_.data(), &digestLength, md5, nullptr) == 1 &&
                        digestLength == kKeyLength;
    EVP_MD_free(md5);
    if (!hashed) {
        releaseLocked();
        return false;
    }
    return true;
}

bool ChallengeCipher::InitialiseWithKey(const std::array<uint8_t, kKeyLength>& key) {
    std::lock_guard<std::mutex> guard(lock_);
    releaseLocked();
    if (!loadProviders()) {
        releaseLocked();
        return false;
    }
    key_ = key;
    return true;
}

bool ChallengeCipher::EncryptInPlace(uint8_t* buffer, std::size_t& length, std::size_t bufferSize) {
    std::lock_guard<std::mutex> guard(lock_);
    if (rc4_ == nullptr || length > bufferSize || length > static_cast<std::size_t>(INT_MAX)) return false;
    if (length == 0) return true;
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (context == nullptr) return false;
    int written = 0;
    // A fresh context per call: the keystream restarts, as the server expects.
    const bool done = EVP_EncryptInit_ex2(context, rc4_, key_.data(), nullptr, nullptr) == 1 &&
                      EVP_EncryptUpdate(context, buffer, &written, buffer, static_cast<int>(length)) == 1 &&
                      written == static_cast<int>(length);
    EVP_CIPHER_CTX_free(context);
    return done;
}

bool ChallengeCipher::GenerateRandom(std::size_t length, uint8_t* buffer) {
    std::lock_guard<std::mutex> guard(lock_);
    if (library_ == nullptr) return false;
    return RAND_bytes_ex(library_, buffer, length, 0) == 1;
}

bool ChallengeCipher::isReady() const {
    std::lock_guard<std::mutex> guard(lock_);
    return rc4_ != nullptr;
}

std::array<uint8_t, ChallengeCipher::kKeyLength> ChallengeCipher::key() const {
    std::lock_guard<std::mutex> guard(lock_);
    return key_;
}

void ChallengeCipher::Release() {
    std::lock_guard<std::mutex> guard(lock_);
    releaseLocked();
}

void ChallengeCipher::releaseLocked() {
    EVP_CIPHER_free(rc4_);
    rc4_ = nullptr;
    if (legacyProvider_ != nullptr) OSSL_PROVIDER_unload(legacyProvider_);
    if (defaultProvider_ != nullptr) OSSL_PROVIDER_unload(defaultProvider_);
    legacyProvider_ = defaultProvider_ = nullptr;
    OSSL_LIB_CTX_free(library_);
    library_ = nullptr;
    OPENSSL_cleanse(key_.data(), key_.size());
}

}  // namespace korvane
