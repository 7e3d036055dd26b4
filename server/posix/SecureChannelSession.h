#pragma once

#include "server/SecureChannel.h"

struct ssl_st;
struct bio_st;

namespace korvane {

// An OpenSSL session whose network side is two memory BIOs.
struct SecureChannel::Session {
    enum class HandshakeStatus { Ok, ContinueNeeded, IncompleteMessage, InternalError, Failed };

    explicit Session(SecureChannel& owner) : channel(owner) {}

    // Drives the handshake to its end, reading first when `readFirst`. Bytes
    // that came in behind the last handshake record stay in the input BIO.
    HandshakeStatus handshakeLoop(bool readFirst);
    // Sends what OpenSSL has queued for the wire; false when a send fails.
    bool sendQueuedOutput();
    // Records queued on the input side that OpenSSL has not decrypted yet.
    bool hasUndecryptedInput() const;
    int securityStatus(int sslResult) const;
    // True (with the text set) when the pin refused the server's certificate.
    bool reportPinRefusal();

    SecureChannel& channel;
    ssl_st* ssl = nullptr;  // valid while not null
    bio_st* in = nullptr;   // owned by ssl
    bio_st* out = nullptr;  // owned by ssl
};

}  // namespace korvane
