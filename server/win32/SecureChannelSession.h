#pragma once

#include "server/SecureChannel.h"
#include "server/win32/SecurityCredential.h"

#include <string>

namespace korvane {

// A security context of the Schannel package, driven through the function
// table of the process-wide security interface.
struct SecureChannel::Session {
    explicit Session(SecureChannel& owner) : channel(owner) {}

    // Runs InitializeSecurityContextA until the handshake is done or fails,
    // reading first when `readFirst`. Bytes the package did not use (data
    // behind the last handshake token) come back in `extra`.
    SECURITY_STATUS handshakeLoop(bool readFirst, std::string& extra);
    // True (with the text set) when a pin is set and the server's
    // certificate does not match it.
    bool pinRefuses();

    SecureChannel& channel;
    SecurityCredential* credential = nullptr;  // the one the context was made with
    CtxtHandle context{};
    bool contextValid = false;
};

}  // namespace korvane
