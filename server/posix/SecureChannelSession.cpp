// The TLS engine on Linux: OpenSSL over memory BIOs. OpenSSL only transforms
// bytes; the socket class carries them, with the handshake's and the
// caller's waits, in the same steps as the security package's loop.
#include "server/SecureChannel.h"

#include "server/FormatText.h"
#include "server/posix/CertificateCheck.h"
#include "server/posix/SecureChannelSession.h"
#include "server/posix/SecurityCredential.h"

#include <array>
#include <climits>
#include <new>

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace korvane {

namespace {

constexpr std::size_t kPlaintextChunk = SSL3_RT_MAX_PLAIN_LENGTH;

constexpr char kTimeoutText[] = "Timeout Waiting for Verifiable Packet from server  (ReceiveAndDecrypt)";
constexpr char kCutOffText[] = "Server unexpectedly disconnected.(ReceiveAndDecrypt)";
constexpr char kSessionEndText[] = "Server Signaled End of Session. (ReceiveAndDecrypt)";
constexpr char kRenegotiationText[] = "Error occured during Renegotiate attempt requested by server.";

bool isNumericAddress(const std::string& name) {
    in_addr v4{};
    in6_addr v6{};
    return inet_pton(AF_INET, name.c_str(), &v4) == 1 || inet_pton(AF_INET6, name.c_str(), &v6) == 1;
}

}  // namespace

SecureChannel::SecureChannel(SecurityInterface& security)
    : security_(&security), session_(std::make_unique<Session>(*this)) {}

SecureChannel::~SecureChannel() {
    Disconnect();
    releaseContext();
}

void SecureChannel::releaseContext() {
    if (session_->ssl != nullptr) SSL_free(session_->ssl);  // frees both BIOs too
    session_->ssl = nullptr;
    session_->in = nullptr;
    session_->out = nullptr;
}

int SecureChannel::Session::securityStatus(int sslResult) const {
    const unsigned long queued = ERR_peek_last_error();
    if (queued != 0) return static_cast<int>(queued);
    return ssl != nullptr ? SSL_get_error(ssl, sslResult) : -1;
}

bool SecureChannel::Session::reportPinRefusal() {
    if (channel.pin_.refusal().empty()) return false;
    channel.setLastErrorText(channel.pin_.refusal());
    return true;
}

bool SecureChannel::Session::hasUndecryptedInput() const {
    if (ssl == nullptr) return false;
    return BIO_ctrl_pending(in) > 0 || SSL_has_pending(ssl) == 1;
}

bool SecureChannel::Session::sendQueuedOutput() {
    if (out == nullptr) return true;
    std::array<uint8_t, 4096> scratch;
    std::vector<uint8_t>& buffer = channel.messageBuffer_;
    uint8_t* chunk = buffer.empty() ? scratch.data() : buffer.data();
    const std::size_t chunkSize = buffer.empty() ? scratch.size() : buffer.size();
    while (BIO_ctrl_pending(out) > 0) {
        const int count = BIO_read(out, chunk, static_cast<int>(std::min<std::size_t>(chunkSize, INT_MAX)));
        if (count <= 0) break;
        if (channel.Send(chunk, static_cast<std::size_t>(count)) <= 0) return false;
    }
    return true;
}

bool SecureChannel::PerformHandshake() {
    pendingData_.clear();
    releaseContext();

    ERR_clear_error();
    SecurityCredential* credential = security_->CredentialHandle();
    SSL*& context = session_->ssl;
    context = credential != nullptr ? SSL_new(credential->context) : nullptr;
    BIO* in = context != nullptr ? BIO_new(BIO_s_mem()) : nullptr;
    BIO* out = in != nullptr ? BIO_new(BIO_s_mem()) : nullptr;
    if (out == nullptr) {
        setLastErrorText(formatText("InitializeSecurityContext Failed - Status = %d", session_->securityStatus(0)));
        BIO_free(in);
        releaseContext();
        return false;
    }
    SSL_set_bio(context, in, out);
    session_->in = in;
    session_->out = out;
    SSL_set_connect_state(context);
    // The server name goes out as SNI, as the original passes it as the target;
    // an address literal is not a valid SNI name.
    if (!isNumericAddress(targetName_)) SSL_set_tlsext_host_name(context, targetName_.c_str());
    attachPin(pin_, context);

    // The first call only produces the ClientHello; it must ask for the server's answer.
    ERR_clear_error();
    const int first = SSL_do_handshake(context);
    if (first == 1 || SSL_get_error(context, first) != SSL_ERROR_WANT_READ) {
        setLastErrorText(formatText("InitializeSecurityContext Failed - Status = %d", session_->securityStatus(first)));
        return false;
    }
    if (!session_->sendQueuedOutput()) {
        setLastErrorText(formatText("Socket Error %d sending to server", lastSocketError()));
        return false;
    }

    if (session_->handshakeLoop(true) != Session::HandshakeStatus::Ok || !pinAccepts(pin_, context)) {
        session_->reportPinRefusal();
        return false;
    }
    // Application data that came with the last flight waits for the first receive.
    const std::size_t extra = BIO_ctrl_pending(session_->in);
    if (extra > 0) {
        try {
            pendingData_.resize(extra);
        } catch (const std::bad_alloc&) {
            setLastErrorText("Out of memory in SSL Handshake.");
            return false;
        }
        const int count = BIO_read(session_->in, pendingData_.data(), static_cast<int>(extra));
        pendingData_.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    }
    return true;
}

SecureChannel::Session::HandshakeStatus SecureChannel::Session::handshakeLoop(bool readFirst) {
    std::array<uint8_t, kInputBufferSize> input;
    HandshakeStatus status = HandshakeStatus::ContinueNeeded;
    bool reading = readFirst;
    while (status == HandshakeStatus::ContinueNeeded || status == HandshakeStatus::IncompleteMessage) {
        if (reading) {
            const int count = channel.ReceiveWithTimeout(input.data(), input.size(), kHandshakeTimeoutMs);
            if (count < 0) {
                channel.setLastErrorText(
                    formatText("Socket Error %d receiving from server", channel.lastSocketError()));
                return HandshakeStatus::InternalError;
            }
            if (count == 0) {
                channel.setLastErrorText("Server disconnected unexpectedly.");
                return HandshakeStatus::InternalError;
            }
            BIO_write(in, input.data(), count);
        } else {
            reading = true;
        }

        ERR_clear_error();
        const int result = SSL_do_handshake(ssl);
        const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl, result);
        const int statusCode = result == 1 ? 0 : securityStatus(result);
        // The next flight, or the alert that explains a failure.
        if (!sendQueuedOutput()) {
            channel.setLastErrorText(formatText("Socket Error %d sending to server(2)", channel.lastSocketError()));
            return HandshakeStatus::InternalError;
        }
        if (result == 1) return HandshakeStatus::Ok;
        if (error == SSL_ERROR_WANT_READ) {
            status = HandshakeStatus::IncompleteMessage;
            continue;
        }
        channel.setLastErrorText(formatText("InitializeSecurityContext Failed(2) - Status = %d", statusCode));
        return HandshakeStatus::Failed;
    }
    return status;
}

bool SecureChannel::SetContextSizes() {
    if (session_->ssl == nullptr || SSL_is_init_finished(session_->ssl) != 1) {
        setLastErrorText(formatText("QueryContextAttributes return Error - %d(SetContextSizes)", -1));
        return false;
    }
    headerSize_ = SSL3_RT_HEADER_LENGTH;
    maximumMessage_ = SSL3_RT_MAX_PLAIN_LENGTH;
    trailerSize_ = SSL3_RT_MAX_ENCRYPTED_OVERHEAD;
    return reserveMessageBuffer();
}

bool SecureChannel::EncryptSend(const void* data, std::size_t length) {
    if (length > maximumMessage_) {
        setLastErrorText("Message too large to Send!.");
        return false;
    }
    if (length == 0) return true;
    ERR_clear_error();
    SSL* context = session_->ssl;
    const int written = context != nullptr ? SSL_write(context, data, static_cast<int>(length)) : -1;
    if (written <= 0) {
        setLastErrorText(
            formatText("Error 0x%x Encrypting Message.", static_cast<unsigned>(session_->securityStatus(written))));
        return false;
    }
    if (!session_->sendQueuedOutput()) {
        setLastErrorText(formatText("Socket Error %d sending to Host", lastSocketError()));
        return false;
    }
    return true;
}

int SecureChannel::ReceiveAndDecrypt(std::size_t& bytesAppended, std::string& text, uint32_t timeoutMs) {
    bytesAppended = 0;
    std::array<uint8_t, kInputBufferSize> input;
    SSL* context = session_->ssl;
    BIO* networkIn = session_->in;
    bool needRead = true;
    if (!pendingData_.empty() && networkIn != nullptr) {
        BIO_write(networkIn, pendingData_.data(), static_cast<int>(pendingData_.size()));
        pendingData_.clear();
        needRead = false;
    }

    // A renegotiation the server asked for runs inside SSL_read, with the
    // handshake's own waits: unlike a bare handshake call, SSL_read also takes
    // the data a server may still send before it answers our new hello.
    bool renegotiation = false;
    for (;;) {
        if (needRead) {
            const uint32_t waitMs = renegotiation ? kHandshakeTimeoutMs : timeoutMs;
            const int count = context != nullptr ? ReceiveWithTimeout(input.data(), input.size(), waitMs) : 0;
            // Whatever ends a renegotiation the server asked for is its failure.
            if (count <= 0 && renegotiation) {
                setLastErrorText(kRenegotiationText);
                return kRenegotiationFailed;
            }
            if (count < 0) {
                setLastErrorText(formatText("Socket Error %d reading data from server", lastSocketError()));
                return kSocketError;
            }
            if (count == 0) break;
            BIO_write(networkIn, input.data(), count);
        }

        // Decrypt every complete record that is in.
        for (;;) {
            const std::size_t before = text.size();
            // Asked before the call: OpenSSL also marks a session in init after a fatal error.
            const bool renegotiating = SSL_in_init(context) == 1;
            text.resize(before + kPlaintextChunk);
            ERR_clear_error();
            const int result = SSL_read(context, text.data() + before, static_cast<int>(kPlaintextChunk));
            text.resize(before + (result > 0 ? static_cast<std::size_t>(result) : 0));
            if (result > 0) {
                bytesAppended += static_cast<std::size_t>(result);
                continue;
            }
            const int error = SSL_get_error(context, result);
            if (error == SSL_ERROR_WANT_READ) break;
            if (error == SSL_ERROR_ZERO_RETURN) {
                setLastErrorText(kSessionEndText);
                return kSessionEnded;
            }
            const int statusCode = session_->securityStatus(result);
            session_->sendQueuedOutput();  // the alert, if any; the failure is reported either way
            if (session_->reportPinRefusal()) return kRenegotiationFailed;
            if (renegotiating) {
                setLastErrorText(kRenegotiationText);
                return kRenegotiationFailed;
            }
            setLastErrorText(formatText("Error 0x%x returned by DecryptMessage.", static_cast<unsigned>(statusCode)));
            return kDecryptFailed;
        }

        // A HelloRequest has started a new handshake inside SSL_read: send what
        // it wrote and go on reading until it is done.
        if (SSL_in_init(context) == 1) {
            if (!session_->sendQueuedOutput()) {
                setLastErrorText(kRenegotiationText);
                return kRenegotiationFailed;
            }
            renegotiation = true;
            needRead = true;  // SSL_read wants more of the server's flight
            continue;
        }
        if (renegotiation) {
            renegotiation = false;
            // The new session's first output (our Finished) may still wait.
            if (!session_->sendQueuedOutput()) {
                setLastErrorText(kRenegotiationText);
                return kRenegotiationFailed;
            }
            // Data decrypted before and during it is not held back for more.
            if (bytesAppended > 0) return kDataAppended;
            needRead = true;
            continue;
        }
        if (session_->hasUndecryptedInput()) {
            needRead = true;  // a record is still incomplete
            continue;
        }
        if (bytesAppended > 0) return kDataAppended;
        needRead = true;
    }

    if (session_->hasUndecryptedInput()) {
        setLastErrorText(kCutOffText);
        return kSocketError;
    }
    setLastErrorText(kTimeoutText);
    return kTimedOut;
}

void SecureChannel::NotifyShutdown() {
    SSL* context = session_->ssl;
    if (context == nullptr) return;
    ERR_clear_error();
    SSL_shutdown(context);
    // Silent: the peer is often gone by now, and the reason the caller is
    // about to report must not give way to this send's failure.
    const std::string reason = LastErrorText();
    session_->sendQueuedOutput();
    setLastErrorText(reason);
    ERR_clear_error();
}

}  // namespace korvane
