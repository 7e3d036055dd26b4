#include "server/CertificatePin.h"

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace korvane {
namespace {

// Where a session keeps the pin that watches it.
int pinIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

std::string hexDigits(const unsigned char* bytes, unsigned int length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace

std::string colonSeparatedFingerprint(const std::string& hexDigits) {
    std::string text;
    for (std::size_t i = 0; i < hexDigits.size(); i += 2) {
        if (i > 0) text += ':';
        text += hexDigits.substr(i, 2);
    }
    return text;
}

std::string certificateSha256(x509_st* certificate) {
    if (certificate == nullptr) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
    return colonSeparatedFingerprint(hexDigits(digest, length));
}

void CertificatePin::attach(ssl_st* session) {
    refusal_.clear();
    if (!isSet() || session == nullptr) return;
    SSL_set_ex_data(session, pinIndex(), this);
    // Peer verification on only to be asked about the certificate: the
    // callback accepts whatever the chain is, and judges the leaf alone.
    SSL_set_verify(session, SSL_VERIFY_PEER, &CertificatePin::verifyCallback);
}

int CertificatePin::verifyCallback(int, x509_store_ctx_st* store) {
    if (X509_STORE_CTX_get_error_depth(store) != 0) return 1;
    auto* session = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* pin = session != nullptr ? static_cast<CertificatePin*>(SSL_get_ex_data(session, pinIndex())) : nullptr;
    if (pin == nullptr) return 0;
    if (!pin->check(X509_STORE_CTX_get_current_cert(store))) return 0;
    // The chain itself is not judged: no certificate is verified otherwise.
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}

bool CertificatePin::check(x509_st* certificate) {
    const std::string received = certificateSha256(certificate);
    const std::string expected = colonSeparatedFingerprint(pinned_);
    if (!received.empty() && received == expected) return true;
    refusal_ = "The load server's certificate does not match the installation's pin: expected SHA-256 " + expected +
               ", received " + (received.empty() ? std::string("no certificate") : "SHA-256 " + received) + ".";
    return false;
}

bool CertificatePin::accepts(ssl_st* session) {
    if (!isSet()) return true;
    X509* certificate = session != nullptr ? SSL_get1_peer_certificate(session) : nullptr;
    const bool matches = check(certificate);
    X509_free(certificate);
    return matches;
}

}  // namespace korvane
