#include "server/SecurityInterface.h"

#include <openssl/ssl.h>

namespace korvane {

SecurityInterface::~SecurityInterface() { Release(); }

SecurityInterface& SecurityInterface::processWide() {
    static SecurityInterface instance;
    return instance;
}

bool SecurityInterface::Initialise() {
    if (context_ != nullptr) return true;
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
    context_ = context;
    return true;
}

void SecurityInterface::Release() {
    if (context_ == nullptr) return;
    SSL_CTX_free(context_);
    context_ = nullptr;
}

}  // namespace korvane
