#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ossl_lib_ctx_st;
struct ossl_provider_st;
struct evp_cipher_st;

namespace korvane {

// The server's half of the mutual challenge: RC4 keyed with the MD5 digest
// of the shared secret, every call from the fresh key schedule (the loader's
// provider restarts the keystream for each call with the final flag).
// Thread-safe once initialised: each call uses its own cipher context.
class ChallengeKey {
public:
    ChallengeKey() = default;
    ~ChallengeKey();
    ChallengeKey(const ChallengeKey&) = delete;
    ChallengeKey& operator=(const ChallengeKey&) = delete;

    // Loads RC4 from the legacy provider into a private library context.
    bool initialise(const std::string& secret, std::string& error);

    std::vector<uint8_t> encipher(const std::vector<uint8_t>& plain) const;

    // The answer the peer must give to `challengeText`, decoded by the wire's
    // rule: an odd number of digits gives the empty answer.
    std::string answerFor(const std::string& challengeText) const;

    static bool randomBytes(uint8_t* buffer, std::size_t length);

private:
    ossl_lib_ctx_st* library_ = nullptr;
    ossl_provider_st* defaultProvider_ = nullptr;
    ossl_provider_st* legacyProvider_ = nullptr;
    evp_cipher_st* rc4_ = nullptr;
    uint8_t key_[16] = {};
};

// Upper-case hexadecimal, two digits per byte.
std::string hexEncode(const std::vector<uint8_t>& bytes);
// The wire's decoding: pairs of digits, anything but "0"-"9" and "A"-"F"
// (lower case included) counts as 0. An odd trailing digit is dropped.
std::vector<uint8_t> hexDecode(const std::string& text);

}  // namespace korvane
