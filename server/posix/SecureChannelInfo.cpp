// What an open secure channel negotiated, for the technician's diagnosis.
#include "server/SecureChannel.h"

#include "server/posix/CertificateCheck.h"
#include "server/posix/SecureChannelSession.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace korvane {

std::string SecureChannel::protocolVersion() const {
    return connected_ && session_->ssl != nullptr ? SSL_get_version(session_->ssl) : std::string();
}

std::string SecureChannel::cipherName() const {
    if (!connected_ || session_->ssl == nullptr) return {};
    const char* name = SSL_get_cipher_name(session_->ssl);
    return name != nullptr ? name : std::string();
}

std::string SecureChannel::serverCertificateSha256() const {
    if (!connected_ || session_->ssl == nullptr) return {};
    return certificateSha256(SSL_get0_peer_certificate(session_->ssl));
}

}  // namespace korvane
