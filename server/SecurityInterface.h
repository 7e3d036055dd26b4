#pragma once

#include <mutex>

struct ssl_ctx_st;

namespace korvane {

// The process-wide TLS client credential every secure channel uses: TLS 1.0
// to 1.2 (the load server expects them, so security level 0), no client
// certificate and no certificate verification; the server proves itself
// through the challenge exchange instead.
class SecurityInterface {
public:
    SecurityInterface() = default;
    ~SecurityInterface();
    SecurityInterface(const SecurityInterface&) = delete;
    SecurityInterface& operator=(const SecurityInterface&) = delete;

    static SecurityInterface& processWide();

    // True when the credential is ready; on failure nothing stays acquired.
    bool Initialise();
    // Safe to call in any state, and more than once.
    void Release();

    bool isReady() const { return context_ != nullptr; }
    // The client context a secure channel creates its sessions from; null until ready.
    ssl_ctx_st* CredentialHandle() const { return context_; }

private:
    ssl_ctx_st* context_ = nullptr;
};

}  // namespace korvane
