#pragma once

#include <string>

struct ssl_st;
struct x509_st;
struct x509_store_ctx_st;

namespace korvane {

// The installation's pin of the load server's certificate: when set, every
// handshake of a session it is attached to, renegotiations included, refuses
// a leaf certificate whose SHA-256 fingerprint differs, at the moment the
// certificate arrives, before the client answers it. Unset, it checks nothing.
class CertificatePin {
public:
    // 64 upper-case hexadecimal digits, as the installation configuration
    // gives them; empty: nothing pinned.
    void set(const std::string& fingerprintHex) { pinned_ = fingerprintHex; }
    bool isSet() const { return !pinned_.empty(); }

    // Hooks the check into `session` before its first handshake; the pin
    // must outlive the session. Does nothing while unset.
    void attach(ssl_st* session);

    // Once the handshake of `session` is done: false (with refusal() set)
    // when a pin is set and the session has no certificate that matches,
    // e.g. when no certificate came at all.
    bool accepts(ssl_st* session);

    // Why the last refused certificate was refused, naming both fingerprints;
    // empty when nothing has been refused since the last attach().
    const std::string& refusal() const { return refusal_; }

private:
    static int verifyCallback(int preverified, x509_store_ctx_st* store);
    bool check(x509_st* certificate);

    std::string pinned_;
    std::string refusal_;
};

// A certificate's SHA-256 fingerprint as `openssl x509 -fingerprint -sha256`
// writes it: upper-case hexadecimal pairs separated by colons. Empty for none.
std::string certificateSha256(x509_st* certificate);

// 64 hexadecimal digits as colon-separated pairs.
std::string colonSeparatedFingerprint(const std::string& hexDigits);

}  // namespace korvane
