#pragma once

#include "server/win32/SecurityCredential.h"

#include <cstddef>
#include <string>

namespace korvane {

// SHA-256 of a certificate's DER encoding, with CryptoAPI, as fingerprintText
// writes it; empty when it cannot be computed.
std::string derSha256(const unsigned char* der, std::size_t length);

// The fingerprint of the leaf certificate the server showed on `context`;
// empty when there is none.
std::string leafCertificateSha256(const SecurityCredential& credential, CtxtHandle& context);

}  // namespace korvane
