#pragma once

struct ssl_ctx_st;

namespace korvane {

// On Linux the credential is the OpenSSL client context every session is made from.
struct SecurityCredential {
    ssl_ctx_st* context = nullptr;
};

}  // namespace korvane
