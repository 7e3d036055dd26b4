// What an open secure channel negotiated, for the technician's diagnosis.
#include "server/SecureChannel.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace korvane {

std::string SecureChannel::protocolVersion() const {
    return connected_ && context_ != nullptr ? SSL_get_version(context_) : std::string();
}

std::string SecureChannel::cipherName() const {
    if (!connected_ || context_ == nullptr) return {};
    const char* name = SSL_get_cipher_name(context_);
    return name != nullptr ? name : std::string();
}

std::string SecureChannel::serverCertificateSha256() const {
    if (!connected_ || context_ == nullptr) return {};
    return certificateSha256(SSL_get0_peer_certificate(context_));
}

}  // namespace korvane
