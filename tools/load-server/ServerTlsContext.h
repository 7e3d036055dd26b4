#pragma once

#include <string>

struct ssl_ctx_st;

namespace korvane {

// The server's TLS settings: TLS 1.0 to 1.2 (the loader's range), security
// level 0 (OpenSSL 3 needs it for 1.0 and 1.1), no client certificate.
class ServerTlsContext {
public:
    ServerTlsContext() = default;
    ~ServerTlsContext();
    ServerTlsContext(const ServerTlsContext&) = delete;
    ServerTlsContext& operator=(const ServerTlsContext&) = delete;

    // With empty paths a fresh self-signed RSA certificate is made in memory.
    bool initialise(const std::string& certificatePath, const std::string& keyPath, std::string& error);

    ssl_ctx_st* get() const { return context_; }

private:
    ssl_ctx_st* context_ = nullptr;
};

}  // namespace korvane
