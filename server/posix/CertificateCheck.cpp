// The certificate pin at an OpenSSL session.
#include "server/posix/CertificateCheck.h"

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

int verifyCallback(int, X509_STORE_CTX* store) {
    if (X509_STORE_CTX_get_error_depth(store) != 0) return 1;
    auto* session = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* pin = session != nullptr ? static_cast<CertificatePin*>(SSL_get_ex_data(session, pinIndex())) : nullptr;
    if (pin == nullptr) return 0;
    if (!pin->check(certificateSha256(X509_STORE_CTX_get_current_cert(store)))) return 0;
    // The chain itself is not judged: no certificate is verified otherwise.
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}

}  // namespace

std::string certificateSha256(x509_st* certificate) {
    if (certificate == nullptr) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
    return fingerprintText(digest, length);
}

void attachPin(CertificatePin& pin, ssl_st* session) {
    pin.reset();
    if (!pin.isSet() || session == nullptr) return;
    SSL_set_ex_data(session, pinIndex(), &pin);
    // Peer verification on only to be asked about the certificate: the
    // callback accepts whatever the chain is, and judges the leaf alone.
    SSL_set_verify(session, SSL_VERIFY_PEER, &verifyCallback);
}

bool pinAccepts(CertificatePin& pin, ssl_st* session) {
    if (!pin.isSet()) return true;
    X509* certificate = session != nullptr ? SSL_get1_peer_certificate(session) : nullptr;
    const bool matches = pin.check(certificateSha256(certificate));
    X509_free(certificate);
    return matches;
}

}  // namespace korvane
