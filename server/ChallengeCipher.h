#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace korvane {

// The symmetric cipher with which loader and load server prove they share the
// installation's secret. RC4 keyed with MD5(secret); every call starts from
// the fresh key schedule, as the load server computes it. Shared by all
// worker threads, so every call holds the lock. The platform's crypto
// provider does the work: CryptoAPI on Windows, OpenSSL on Linux.
class ChallengeCipher {
public:
    static constexpr std::size_t kKeyLength = 16;

    // `moduleDirectory` overrides where OpenSSL looks for its providers (empty:
    // OpenSSL's own default, which $OPENSSL_MODULES also steers). Windows
    // ignores it: the CryptoAPI provider is the system's.
    explicit ChallengeCipher(std::string moduleDirectory = {});
    ~ChallengeCipher();
    ChallengeCipher(const ChallengeCipher&) = delete;
    ChallengeCipher& operator=(const ChallengeCipher&) = delete;

    static ChallengeCipher& processWide();

    // Acquires the provider, hashes the secret and derives the key. Fails
    // (releasing everything) when the provider or RC4 is missing.
    bool Initialise(const std::string& secret);
    // Keys the cipher directly; for checks against published RC4 answers.
    bool InitialiseWithKey(const std::array<uint8_t, kKeyLength>& key);

    // Enciphers `length` bytes in place; RC4 keeps the length. False when not
    // initialised, when `length` exceeds `bufferSize`, or on a provider error.
    bool EncryptInPlace(uint8_t* buffer, std::size_t& length, std::size_t bufferSize);
    bool GenerateRandom(std::size_t length, uint8_t* buffer);

    bool isReady() const;
    // The derived key; for tests and diagnosis.
    std::array<uint8_t, kKeyLength> key() const;

    void Release();

private:
    // The provider's handles; each platform's backend defines it.
    struct Provider;

    void releaseLocked();

    mutable std::mutex lock_;
    std::string moduleDirectory_;
    std::unique_ptr<Provider> provider_;
    std::array<uint8_t, kKeyLength> key_{};
};

}  // namespace korvane
