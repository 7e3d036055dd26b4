#pragma once

#include <cstddef>
#include <string>

namespace korvane {

// The installation's pin of the load server's certificate: when set, every
// handshake of a session it watches, renegotiations included, refuses a leaf
// certificate whose SHA-256 fingerprint differs, before the client sends any
// data. Unset, it checks nothing. Each platform's secure channel hands it the
// fingerprint of the certificate the server showed (CertificateCheck.cpp).
class CertificatePin {
public:
    // 64 upper-case hexadecimal digits, as the installation configuration
    // gives them; empty: nothing pinned.
    void set(const std::string& fingerprintHex) { pinned_ = fingerprintHex; }
    bool isSet() const { return !pinned_.empty(); }

    // Forgets the last refusal; at the start of every session.
    void reset() { refusal_.clear(); }

    // True when nothing is pinned or `receivedFingerprint` (colon-separated,
    // as certificate fingerprints are written here; empty when no certificate
    // came) is the pinned one; else false with refusal() set.
    bool check(const std::string& receivedFingerprint);

    // Why the last refused certificate was refused, naming both fingerprints;
    // empty when nothing has been refused since the last reset().
    const std::string& refusal() const { return refusal_; }

private:
    std::string pinned_;
    std::string refusal_;
};

// 64 hexadecimal digits as colon-separated pairs.
std::string colonSeparatedFingerprint(const std::string& hexDigits);

// A digest as `openssl x509 -fingerprint -sha256` writes it: upper-case
// hexadecimal pairs separated by colons.
std::string fingerprintText(const unsigned char* digest, std::size_t length);

}  // namespace korvane
