#pragma once

#include <string>

struct ssl_st;
struct x509_st;

namespace korvane {

class CertificatePin;

// A certificate's SHA-256 fingerprint as fingerprintText writes it; empty for none.
std::string certificateSha256(x509_st* certificate);

// Hooks `pin` into `session` before its first handshake, so that every
// handshake judges the leaf certificate the moment it arrives, before the
// client answers it. The pin must outlive the session; nothing while unset.
void attachPin(CertificatePin& pin, ssl_st* session);

// Once a handshake of `session` is done: false (with the pin's refusal set)
// when a pin is set and the session has no certificate that matches.
bool pinAccepts(CertificatePin& pin, ssl_st* session);

}  // namespace korvane
