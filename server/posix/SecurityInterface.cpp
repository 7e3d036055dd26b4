// The client credential on Linux: one OpenSSL client context.
#include "server/SecurityInterface.h"

#include "server/posix/SecurityCredential.h"

#include <openssl/ssl.h>

namespace korvane {

SecurityInterface::SecurityInterface() : credential_(std::make_unique<SecurityCredential>()) {}

SecurityInterface::~SecurityInterface() { Release(); }

SecurityInterface& SecurityInterface::processWide() {
    static SecurityInterface instance;
    return instance;
}

bool SecurityInterface::isReady() const { return credential_->context != nullptr; }

SecurityCredential* SecurityInterface::CredentialHandle() const {
    return isReady() ? credential_.get() : nullptr;
}

bool SecurityInterface::Initialise() {
    if (credential_->context != nullptr) return true;
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) return false;
    // OpenSSL 3 refuses TLS 1.0 and 1.1 above security level 0.
    SSL_CTX_set_security_level(context, 0);
    const bool configured = SSL_CTX_set_min_proto_version(context, TLS1_VERSION) == 1 &&
                            SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION) == 1 &&
                            SSL_CTX_set_cipher_list(context, "DEFAULT:@SECLEVEL=0") == 1;
    if (!configured) {
        SSL_CTX_free(context);
        return false;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    credential_->context = context;
    return true;
}

void SecurityInterface::Release() {
    if (credential_->context == nullptr) return;
    SSL_CTX_free(credential_->context);
    credential_->context = nullptr;
}

}  // namespace korvane
