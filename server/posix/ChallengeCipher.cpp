// The challenge cipher on Linux: RC4 from OpenSSL's legacy provider, loaded
// together with the default provider into a private library context.
#include "server/ChallengeCipher.h"

#include <climits>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

namespace korvane {

struct ChallengeCipher::Provider {
    OSSL_LIB_CTX* library = nullptr;
    OSSL_PROVIDER* defaultProvider = nullptr;
    OSSL_PROVIDER* legacyProvider = nullptr;
    EVP_CIPHER* rc4 = nullptr;

    bool load(const std::string& moduleDirectory) {
        library = OSSL_LIB_CTX_new();
        if (library == nullptr) return false;
        if (!moduleDirectory.empty() && OSSL_PROVIDER_set_default_search_path(library, moduleDirectory.c_str()) != 1)
            return false;
        // Loading only "legacy" would switch the default provider off for this context.
        defaultProvider = OSSL_PROVIDER_load(library, "default");
        legacyProvider = OSSL_PROVIDER_load(library, "legacy");
        if (defaultProvider == nullptr || legacyProvider == nullptr) return false;
        rc4 = EVP_CIPHER_fetch(library, "RC4", nullptr);
        return rc4 != nullptr;
    }

    void release() {
        EVP_CIPHER_free(rc4);
        rc4 = nullptr;
        if (legacyProvider != nullptr) OSSL_PROVIDER_unload(legacyProvider);
        if (defaultProvider != nullptr) OSSL_PROVIDER_unload(defaultProvider);
        legacyProvider = defaultProvider = nullptr;
        OSSL_LIB_CTX_free(library);
        library = nullptr;
    }
};

ChallengeCipher::ChallengeCipher(std::string moduleDirectory)
    : moduleDirectory_(std::move(moduleDirectory)), provider_(std::make_unique<Provider>()) {}

ChallengeCipher::~ChallengeCipher() { Release(); }

bool ChallengeCipher::Initialise(const std::string& secret) {
    std::lock_guard<std::mutex> guard(lock_);
    releaseLocked();
    if (!provider_->load(moduleDirectory_)) {
        releaseLocked();
        return false;
    }
    EVP_MD* md5 = EVP_MD_fetch(provider_->library, "MD5", nullptr);
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
    if (!provider_->load(moduleDirectory_)) {
        releaseLocked();
        return false;
    }
    key_ = key;
    return true;
}

bool ChallengeCipher::EncryptInPlace(uint8_t* buffer, std::size_t& length, std::size_t bufferSize) {
    std::lock_guard<std::mutex> guard(lock_);
    if (provider_->rc4 == nullptr || length > bufferSize || length > static_cast<std::size_t>(INT_MAX)) return false;
    if (length == 0) return true;
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (context == nullptr) return false;
    int written = 0;
    // A fresh context per call: the keystream restarts, as the server expects.
    const bool done = EVP_EncryptInit_ex2(context, provider_->rc4, key_.data(), nullptr, nullptr) == 1 &&
                      EVP_EncryptUpdate(context, buffer, &written, buffer, static_cast<int>(length)) == 1 &&
                      written == static_cast<int>(length);
    EVP_CIPHER_CTX_free(context);
    return done;
}

bool ChallengeCipher::GenerateRandom(std::size_t length, uint8_t* buffer) {
    std::lock_guard<std::mutex> guard(lock_);
    if (provider_->library == nullptr) return false;
    return RAND_bytes_ex(provider_->library, buffer, length, 0) == 1;
}

bool ChallengeCipher::isReady() const {
    std::lock_guard<std::mutex> guard(lock_);
    return provider_->rc4 != nullptr;
}

void ChallengeCipher::releaseLocked() {
    provider_->release();
    OPENSSL_cleanse(key_.data(), key_.size());
}

}  // namespace korvane
