#pragma once

#include <memory>

namespace korvane {

// What a secure channel needs from the security services to open sessions;
// each platform's backend defines it (the TLS client context on Linux, the
// security package's function table and credential handle on Windows).
struct SecurityCredential;

// The process-wide TLS client credential every secure channel uses: TLS 1.0
// to 1.2 (the load server expects them), no client certificate and no
// certificate verification; the server proves itself through the challenge
// exchange instead.
class SecurityInterface {
public:
    SecurityInterface();
    ~SecurityInterface();
    SecurityInterface(const SecurityInterface&) = delete;
    SecurityInterface& operator=(const SecurityInterface&) = delete;

    static SecurityInterface& processWide();

    // True when the credential is ready. On Windows a failure to acquire the
    // credential unloads the security package; a failure before that leaves
    // what was loaded to Release.
    bool Initialise();
    // Safe to call in any state, and more than once.
    void Release();

    bool isReady() const;
    // What a secure channel creates its sessions from; null until ready.
    SecurityCredential* CredentialHandle() const;

private:
    std::unique_ptr<SecurityCredential> credential_;
};

}  // namespace korvane
