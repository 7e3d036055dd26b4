// The challenge cipher on Windows: CryptoAPI with the Microsoft Enhanced
// Cryptographic Provider, no key container.
#include "server/ChallengeCipher.h"

#include <windows.h>
#include <wincrypt.h>

#include <climits>
#include <cstring>

namespace korvane {

namespace {

constexpr char kProviderName[] = "Microsoft Enhanced Cryptographic Provider v1.0";
// Key length 128 in the upper word, no other flag: no salt.
constexpr DWORD kRc4KeyFlags = 0x00800000;

// The blob CryptImportKey takes for a key given in the clear.
struct PlainRc4KeyBlob {
    BLOBHEADER header;
    DWORD keyLength;
    BYTE key[ChallengeCipher::kKeyLength];
};

}  // namespace

struct ChallengeCipher::Provider {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    HCRYPTKEY key = 0;

    void release() {
        if (hash != 0) CryptDestroyHash(hash);
        if (key != 0) CryptDestroyKey(key);
        if (provider != 0) CryptReleaseContext(provider, 0);
        hash = 0;
        key = 0;
        provider = 0;
    }
};

ChallengeCipher::ChallengeCipher(std::string moduleDirectory)
    : moduleDirectory_(std::move(moduleDirectory)), provider_(std::make_unique<Provider>()) {}

ChallengeCipher::~ChallengeCipher() { Release(); }

bool ChallengeCipher::Initialise(const std::string& secret) {
    std::lock_guard<std::mutex> guard(lock_);
    releaseLocked();
    Provider& p = *provider_;
    const auto fail = [this] {
        releaseLocked();
        return false;
    };
    if (!CryptAcquireContextA(&p.provider, nullptr, kProviderName, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        p.provider = 0;
        return fail();
    }
    if (!CryptCreateHash(p.provider, CALG_MD5, 0, 0, &p.hash)) {
        p.hash = 0;
        return fail();
    }
    if (!CryptHashData(p.hash, reinterpret_cast<const BYTE*>(secret.data()), static_cast<DWORD>(secret.size()), 0))
        return fail();
    // The provider keys RC4 with the hash value itself; key() reports it,
    // read before the derivation finishes the hash.
    DWORD digestLength = kKeyLength;
    if (!CryptGetHashParam(p.hash, HP_HASHVAL, key_.data(), &digestLength, 0) || digestLength != kKeyLength)
        return fail();
    if (!CryptDeriveKey(p.provider, CALG_RC4, p.hash, kRc4KeyFlags, &p.key)) {
        p.key = 0;
        return fail();
    }
    CryptDestroyHash(p.hash);
    p.hash = 0;
    return true;
}

bool ChallengeCipher::InitialiseWithKey(const std::array<uint8_t, kKeyLength>& key) {
    std::lock_guard<std::mutex> guard(lock_);
    releaseLocked();
    Provider& p = *provider_;
    if (!CryptAcquireContextA(&p.provider, nullptr, kProviderName, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        p.provider = 0;
        releaseLocked();
        return false;
    }
    PlainRc4KeyBlob blob{};
    blob.header.bType = PLAINTEXTKEYBLOB;
    blob.header.bVersion = CUR_BLOB_VERSION;
    blob.header.aiKeyAlg = CALG_RC4;
    blob.keyLength = kKeyLength;
    std::memcpy(blob.key, key.data(), kKeyLength);
    const BOOL imported = CryptImportKey(p.provider, reinterpret_cast<const BYTE*>(&blob), sizeof blob, 0, 0, &p.key);
    SecureZeroMemory(&blob, sizeof blob);
    if (!imported) {
        p.key = 0;
        releaseLocked();
        return false;
    }
    key_ = key;
    return true;
}

bool ChallengeCipher::EncryptInPlace(uint8_t* buffer, std::size_t& length, std::size_t bufferSize) {
    std::lock_guard<std::mutex> guard(lock_);
    if (provider_->key == 0 || length > bufferSize || bufferSize > static_cast<std::size_t>(ULONG_MAX)) return false;
    DWORD count = static_cast<DWORD>(length);
    // The final flag ends the message: the provider starts the next call from
    // the fresh key schedule, which the load server relies on.
    if (!CryptEncrypt(provider_->key, 0, TRUE, 0, buffer, &count, static_cast<DWORD>(bufferSize))) return false;
    length = count;
    return true;
}

bool ChallengeCipher::GenerateRandom(std::size_t length, uint8_t* buffer) {
    std::lock_guard<std::mutex> guard(lock_);
    if (provider_->provider == 0 || length > static_cast<std::size_t>(ULONG_MAX)) return false;
    return CryptGenRandom(provider_->provider, static_cast<DWORD>(length), buffer) != FALSE;
}

bool ChallengeCipher::isReady() const {
    std::lock_guard<std::mutex> guard(lock_);
    return provider_->key != 0;
}

void ChallengeCipher::releaseLocked() {
    provider_->release();
    SecureZeroMemory(key_.data(), key_.size());
}

}  // namespace korvane
