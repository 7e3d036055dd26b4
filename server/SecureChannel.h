#pragma once

#include "server/CertificatePin.h"
#include "server/SecurityInterface.h"
#include "server/TcpSocket.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvane {

// The TLS client on top of TcpSocket. The platform's TLS engine only
// transforms bytes here (the security package with Schannel on Windows,
// OpenSSL over memory buffers on Linux); every byte on the wire goes through
// the socket class with the load protocol's own waits: 10000 ms for every
// network wait of a handshake, the caller's budget for data.
//
// Where a text shows a security status it is the SECURITY_STATUS on Windows;
// on Linux it is OpenSSL's error code (decode with `openssl errstr`), or the
// SSL_get_error value when OpenSSL queued none.
class SecureChannel : public TcpSocket {
public:
    static constexpr uint32_t kHandshakeTimeoutMs = 10000;
    static constexpr std::size_t kInputBufferSize = 65536;

    // What ReceiveAndDecrypt returns.
    enum ReceiveResult : int {
        kDataAppended = 0,
        kSocketError = 2,          // socket error, or the connection dropped mid-record
        kTimedOut = 3,             // nothing arrived, or the peer closed TCP without notice
        kSessionEnded = 4,         // the server sent its close notification
        kRenegotiationFailed = 5,
        kDecryptFailed = 6,
    };

    explicit SecureChannel(SecurityInterface& security = SecurityInterface::processWide());
    ~SecureChannel() override;

    // TCP connect, handshake, stream sizes. A failed open leaves the object
    // closed and ready to be opened again.
    bool Open(const std::string& hostName, uint16_t port, uint32_t connectTimeoutMs);
    // Close notification (when connected), session end, socket close; safe in any state.
    void Disconnect();
    // One record; refuses more than maximumMessageSize() bytes, never splits.
    bool EncryptSend(const void* data, std::size_t length);
    // Waits up to `timeoutMs` for the next records and appends their plaintext
    // to `text` byte-exact; `bytesAppended` tells how much. Several records in
    // one read are all decrypted; a record split across reads is awaited. A
    // renegotiation the server asks for is carried out on the way.
    int ReceiveAndDecrypt(std::size_t& bytesAppended, std::string& text, uint32_t timeoutMs);
    // Sends the close notification; failures end it silently.
    void NotifyShutdown();

    bool isConnected() const { return connected_; }
    // Known after the first handshake; 0 before.
    std::size_t maximumMessageSize() const { return maximumMessage_; }

    // The installation's pin of the server's certificate (64 upper-case hex
    // digits; empty: none). Checked at every handshake and renegotiation from
    // the next Open on; a mismatch fails it, before anything is sent, with a
    // text that names both fingerprints.
    void setServerCertificatePin(const std::string& fingerprintHex) { pin_.set(fingerprintHex); }
    // True when the last handshake failed because the pin refused the certificate.
    bool certificateRefused() const { return !pin_.refusal().empty(); }
    // What the open session uses, for diagnosis; empty when not connected.
    std::string protocolVersion() const;
    std::string cipherName() const;
    // The server's leaf certificate, as `openssl x509 -fingerprint -sha256` shows it.
    std::string serverCertificateSha256() const;

private:
    // The TLS engine's state for one connection; each platform's backend
    // defines it, with the helpers that drive the handshake and the records.
    struct Session;

    bool PerformHandshake();
    bool SetContextSizes();
    // Sizes the message buffer for header + maximum message + trailer.
    bool reserveMessageBuffer();
    // Ends the engine's session (the security context); safe in any state.
    void releaseContext();

    SecurityInterface* security_;
    std::unique_ptr<Session> session_;
    bool connected_ = false;
    std::string targetName_;
    std::size_t headerSize_ = 0;
    std::size_t trailerSize_ = 0;
    std::size_t maximumMessage_ = 0;
    std::vector<uint8_t> messageBuffer_;
    // Bytes that arrived with the last handshake flight, for the first receive.
    std::string pendingData_;
    CertificatePin pin_;
};

}  // namespace korvane
