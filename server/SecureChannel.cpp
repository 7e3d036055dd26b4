#include "server/SecureChannel.h"

#include "server/FormatText.h"

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

SecureChannel::SecureChannel(SecurityInterface& security) : security_(&security) {}

SecureChannel::~SecureChannel() {
    Disconnect();
    releaseContext();
}

void SecureChannel::releaseContext() {
    if (context_ != nullptr) SSL_free(context_);  // frees both BIOs too
    context_ = nullptr;
    networkIn_ = nullptr;
    networkOut_ = nullptr;
}

int SecureChannel::securityStatus(int sslResult) const {
    const unsigned long queued = ERR_peek_last_error();
    if (queued != 0) return static_cast<int>(queued);
    return context_ != nullptr ? SSL_get_error(context_, sslResult) : -1;
}

bool SecureChannel::reportPinRefusal() {
    if (pin_.refusal().empty()) return false;
    setLastErrorText(pin_.refusal());
    return true;
}

bool SecureChannel::hasUndecryptedInput() const {
    if (context_ == nullptr) return false;
    return BIO_ctrl_pending(networkIn_) > 0 || SSL_has_pending(context_) == 1;
}

bool SecureChannel::sendQueuedOutput() {
    if (networkOut_ == nullptr) return true;
    std::array<uint8_t, 4096> scratch;
    uint8_t* chunk = messageBuffer_.empty() ? scratch.data() : messageBuffer_.data();
    const std::size_t chunkSize = messageBuffer_.empty() ? scratch.size() : messageBuffer_.size();
    while (BIO_ctrl_pending(networkOut_) > 0) {
        const int count = BIO_read(networkOut_, chunk, static_cast<int>(std::min<std::size_t>(chunkSize, INT_MAX)));
        if (count <= 0) break;
        if (Send(chunk, static_cast<std::size_t>(count)) <= 0) return false;
    }
    return true;
}

bool SecureChannel::Open(const std::string& hostName, uint16_t port, uint32_t connectTimeoutMs) {
    Disconnect();
    if (!Connect(hostName, port, connectTimeoutMs)) return false;
    targetName_ = hostName;
    if (!PerformHandshake()) {
        Disconnect();
        return false;
    }
    if (!SetContextSizes()) {
        NotifyShutdown();
        Disconnect();
        return false;
    }
    connected_ = true;
    return true;
}

bool SecureChannel::PerformHandshake() {
    pendingData_.clear();
    releaseContext();

    ERR_clear_error();
    ssl_ctx_st* credential = security_->CredentialHandle();
    context_ = credential != nullptr ? SSL_new(credential) : nullptr;
    BIO* in = context_ != nullptr ? BIO_new(BIO_s_mem()) : nullptr;
    BIO* out = in != nullptr ? BIO_new(BIO_s_mem()) : nullptr;
    if (out == nullptr) {
        setLastErrorText(formatText("InitializeSecurityContext Failed - Status = %d", securityStatus(0)));
        BIO_free(in);
        releaseContext();
        return false;
    }
    SSL_set_bio(context_, in, out);
    networkIn_ = in;
    networkOut_ = out;
    SSL_set_connect_state(context_);
    // The server name goes out as SNI, as the original passes it as the target;
    // an address literal is not a valid SNI name.
    if (!isNumericAddress(targetName_)) SSL_set_tlsext_host_name(context_, targetName_.c_str());
    pin_.attach(context_);

    // The first call only produces the ClientHello; it must ask for the server's answer.
    ERR_clear_error();
    const int first = SSL_do_handshake(context_);
    if (first == 1 || SSL_get_error(context_, first) != SSL_ERROR_WANT_READ) {
        setLastErrorText(formatText("InitializeSecurityContext Failed - Status = %d", securityStatus(first)));
        return false;
    }
    if (!sendQueuedOutput()) {
        setLastErrorText(formatText("Socket Error %d sending to server", lastSocketError()));
        return false;
    }

    if (HandshakeLoop(true) != HandshakeStatus::Ok || !pin_.accepts(context_)) {
        reportPinRefusal();
        return false;
    }
    // Application data that came with the last flight waits for the first receive.
    const std::size_t extra = BIO_ctrl_pending(networkIn_);
    if (extra > 0) {
        try {
            pendingData_.resize(extra);
        } catch (const std::bad_alloc&) {
            setLastErrorText("Out of memory in SSL Handshake.");
            return false;
        }
        const int count = BIO_read(networkIn_, pendingData_.data(), static_cast<int>(extra));
        pendingData_.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    }
    return true;
}

SecureChannel::HandshakeStatus SecureChannel::HandshakeLoop(bool readFirst) {
    std::array<uint8_t, kInputBufferSize> input;
    HandshakeStatus status = HandshakeStatus::ContinueNeeded;
    bool reading = readFirst;
    while (status == HandshakeStatus::ContinueNeeded || status == HandshakeStatus::IncompleteMessage) {
        if (reading) {
            const int count = ReceiveWithTimeout(input.data(), input.size(), kHandshakeTimeoutMs);
            if (count < 0) {
                setLastErrorText(formatText("Socket Error %d receiving from server", lastSocketError()));
                return HandshakeStatus::InternalError;
            }
            if (count == 0) {
                setLastErrorText("Server disconnected unexpectedly.");
                return HandshakeStatus::InternalError;
            }
            BIO_write(networkIn_, input.data(), count);
        } else {
            reading = true;
        }

        ERR_clear_error();
        const int result = SSL_do_handshake(context_);
        const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(context_, result);
        const int statusCode = result == 1 ? 0 : securityStatus(result);
        // The next flight, or the alert that explains a failure.
        if (!sendQueuedOutput()) {
            setLastErrorText(formatText("Socket Error %d sending to server(2)", lastSocketError()));
            return HandshakeStatus::InternalError;
        }
        if (result == 1) return HandshakeStatus::Ok;
        if (error == SSL_ERROR_WANT_READ) {
            status = HandshakeStatus::IncompleteMessage;
            continue;
        }
        setLastErrorText(formatText("InitializeSecurityContext Failed(2) - Status = %d", statusCode));
        return HandshakeStatus::Failed;
    }
    return status;
}

bool SecureChannel::SetContextSizes() {
    if (context_ == nullptr || SSL_is_init_finished(context_) != 1) {
        setLastErrorText(formatText("QueryContextAttributes return Error - %d(SetContextSizes)", -1));
        return false;
    }
    headerSize_ = SSL3_RT_HEADER_LENGTH;
    maximumMessage_ = SSL3_RT_MAX_PLAIN_LENGTH;
    trailerSize_ = SSL3_RT_MAX_ENCRYPTED_OVERHEAD;
    const std::size_t needed = headerSize_ + maximumMessage_ + trailerSize_;
    if (messageBuffer_.size() < needed) {
        try {
            messageBuffer_.resize(needed);
        } catch (const std::bad_alloc&) {
            setLastErrorText("Out of Memory(SetContextSizes)");
            return false;
        }
    }
    return true;
}

bool SecureChannel::EncryptSend(const void* data, std::size_t length) {
    if (length > maximumMessage_) {
        setLastErrorText("Message too large to Send!.");
        return false;
    }
    if (length == 0) return true;
    ERR_clear_error();
    const int written = context_ != nullptr ? SSL_write(context_, data, static_cast<int>(length)) : -1;
    if (written <= 0) {
        setLastErrorText(formatText("Error 0x%x Encrypting Message.", static_cast<unsigned>(securityStatus(written))));
        return false;
    }
    if (!sendQueuedOutput()) {
        setLastErrorText(formatText("Socket Error %d sending to Host", lastSocketError()));
        return false;
    }
    return true;
}

int SecureChannel::ReceiveAndDecrypt(std::size_t& bytesAppended, std::string& text, uint32_t timeoutMs) {
    bytesAppended = 0;
    std::array<uint8_t, kInputBufferSize> input;
    bool needRead = true;
    if (!pendingData_.empty() && networkIn_ != nullptr) {
        BIO_write(networkIn_, pendingData_.data(), static_cast<int>(pendingData_.size()));
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
            const int count = context_ != nullptr ? ReceiveWithTimeout(input.data(), input.size(), waitMs) : 0;
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
            BIO_write(networkIn_, input.data(), count);
        }

        // Decrypt every complete record that is in.
        for (;;) {
            const std::size_t before = text.size();
            // Asked before the call: OpenSSL also marks a session in init after a fatal error.
            const bool renegotiating = SSL_in_init(context_) == 1;
            text.resize(before + kPlaintextChunk);
            ERR_clear_error();
            const int result = SSL_read(context_, text.data() + before, static_cast<int>(kPlaintextChunk));
            text.resize(before + (result > 0 ? static_cast<std::size_t>(result) : 0));
            if (result > 0) {
                bytesAppended += static_cast<std::size_t>(result);
                continue;
            }
            const int error = SSL_get_error(context_, result);
            if (error == SSL_ERROR_WANT_READ) break;
            if (error == SSL_ERROR_ZERO_RETURN) {
                setLastErrorText(kSessionEndText);
                return kSessionEnded;
            }
            const int statusCode = securityStatus(result);
            sendQueuedOutput();  // the alert, if any; the failure is reported either way
            if (reportPinRefusal()) return kRenegotiationFailed;
            if (renegotiating) {
                setLastErrorText(kRenegotiationText);
                return kRenegotiationFailed;
            }
            setLastErrorText(formatText("Error 0x%x returned by DecryptMessage.", static_cast<unsigned>(statusCode)));
            return kDecryptFailed;
        }

        // A HelloRequest has started a new handshake inside SSL_read: send what
        // it wrote and go on reading until it is done.
        if (SSL_in_init(context_) == 1) {
            if (!sendQueuedOutput()) {
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
            if (!sendQueuedOutput()) {
                setLastErrorText(kRenegotiationText);
                return kRenegotiationFailed;
            }
            // Data decrypted before and during it is not held back for more.
            if (bytesAppended > 0) return kDataAppended;
            needRead = true;
            continue;
        }
        if (hasUndecryptedInput()) {
            needRead = true;  // a record is still incomplete
            continue;
        }
        if (bytesAppended > 0) return kDataAppended;
        needRead = true;
    }

    if (hasUndecryptedInput()) {
        setLastErrorText(kCutOffText);
        return kSocketError;
    }
    setLastErrorText(kTimeoutText);
    return kTimedOut;
}

void SecureChannel::NotifyShutdown() {
    if (context_ == nullptr) return;
    ERR_clear_error();
    SSL_shutdown(context_);
    // Silent: the peer is often gone by now, and the reason the caller is
    // about to report must not give way to this send's failure.
    const std::string reason = LastErrorText();
    sendQueuedOutput();
    setLastErrorText(reason);
    ERR_clear_error();
}

void SecureChannel::Disconnect() {
    if (connected_) {
        NotifyShutdown();
        connected_ = false;
    }
    releaseContext();
    pendingData_.clear();
    Close();
}

}  // namespace korvane
