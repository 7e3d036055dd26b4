#include "tools/load-server/ServerTlsContext.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace korvane {
namespace {

std::string opensslError() {
    const unsigned long code = ERR_get_error();
    if (code == 0) return "unknown OpenSSL error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
}

// Self-signed, valid from an hour ago for a year; the loader checks nothing
// in it, but real TLS stacks still want a well-formed one.
bool useSelfSigned(SSL_CTX* context, std::string& error) {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* certificate = X509_new();
    bool done = false;
    if (key != nullptr && certificate != nullptr) {
        uint64_t serial = 0;
        RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial);
        X509_set_version(certificate, 2);
        ASN1_INTEGER_set_uint64(X509_get_serialNumber(certificate), serial >> 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 365L * 24 * 3600);
        X509_NAME* name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("korvane-load-server"), -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        done = X509_set_pubkey(certificate, key) == 1 && X509_sign(certificate, key, EVP_sha256()) > 0 &&
               SSL_CTX_use_certificate(context, certificate) == 1 && SSL_CTX_use_PrivateKey(context, key) == 1;
    }
    if (!done) error = "cannot make a self-signed certificate: " + opensslError();
    X509_free(certificate);
    EVP_PKEY_free(key);
    return done;
}

}  // namespace

ServerTlsContext::~ServerTlsContext() { SSL_CTX_free(context_); }

bool ServerTlsContext::initialise(const std::string& certificatePath, const std::string& keyPath, std::string& error) {
    context_ = SSL_CTX_new(TLS_server_method());
    if (context_ == nullptr) {
        error = "cannot create the TLS context: " + opensslError();
        return false;
    }
    SSL_CTX_set_security_level(context_, 0);
    if (SSL_CTX_set_min_proto_version(context_, TLS1_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_cipher_list(context_, "DEFAULT:@SECLEVEL=0") != 1) {
        error = "cannot set the TLS versions and ciphers: " + opensslError();
        return false;
    }
    // One operation per connection: resumption buys nothing.
    SSL_CTX_set_session_cache_mode(context_, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context_, SSL_OP_NO_TICKET);
    if (certificatePath.empty()) return useSelfSigned(context_, error);
    if (SSL_CTX_use_certificate_chain_file(context_, certificatePath.c_str()) != 1) {
        error = "cannot read the certificate " + certificatePath + ": " + opensslError();
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(context_, keyPath.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context_) != 1) {
        error = "cannot use the key " + keyPath + ": " + opensslError();
        return false;
    }
    return true;
}

}  // namespace korvane
