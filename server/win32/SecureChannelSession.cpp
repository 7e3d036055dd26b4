// The TLS engine on Windows: the security package interface with the Schannel
// provider. The package only transforms bytes; the socket class carries them.
#include "server/SecureChannel.h"

#include "server/FormatText.h"
#include "server/win32/CertificateCheck.h"
#include "server/win32/SecureChannelSession.h"

#include <schannel.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace korvane {

namespace {

// ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
// ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_EXTENDED_ERROR | ISC_REQ_STREAM
constexpr ULONG kRequestFlags = 0xC11C;

constexpr char kTimeoutText[] = "Timeout Waiting for Verifiable Packet from server  (ReceiveAndDecrypt)";
constexpr char kCutOffText[] = "Server unexpectedly disconnected.(ReceiveAndDecrypt)";
constexpr char kSessionEndText[] = "Server Signaled End of Session. (ReceiveAndDecrypt)";
constexpr char kRenegotiationText[] = "Error occured during Renegotiate attempt requested by server.";

SecBufferDesc describe(SecBuffer* buffers, unsigned long count) {
    SecBufferDesc description{};
    description.ulVersion = SECBUFFER_VERSION;
    description.cBuffers = count;
    description.pBuffers = buffers;
    return description;
}

SecBuffer buffer(unsigned long type, void* data = nullptr, unsigned long size = 0) {
    SecBuffer entry{};
    entry.BufferType = type;
    entry.pvBuffer = data;
    entry.cbBuffer = size;
    return entry;
}

}  // namespace

SecureChannel::SecureChannel(SecurityInterface& security)
    : security_(&security), session_(std::make_unique<Session>(*this)) {}

SecureChannel::~SecureChannel() {
    Disconnect();
    releaseContext();
}

void SecureChannel::releaseContext() {
    if (session_->contextValid) session_->credential->functions->DeleteSecurityContext(&session_->context);
    session_->contextValid = false;
}

bool SecureChannel::Session::pinRefuses() {
    if (!channel.pin_.isSet()) return false;
    if (channel.pin_.check(leafCertificateSha256(*credential, context))) return false;
    channel.setLastErrorText(channel.pin_.refusal());
    return true;
}

bool SecureChannel::PerformHandshake() {
    pendingData_.clear();
    releaseContext();
    pin_.reset();

    Session& session = *session_;
    session.credential = security_->CredentialHandle();
    if (session.credential == nullptr) {
        setLastErrorText(formatText("InitializeSecurityContext Failed - Status = %d", static_cast<int>(SEC_E_NO_CREDENTIALS)));
        return false;
    }
    SecurityFunctionTableA& functions = *session.credential->functions;

    SecBuffer token = buffer(SECBUFFER_TOKEN);
    SecBufferDesc output = describe(&token, 1);
    ULONG attributes = 0;
    TimeStamp expiry{};
    const SECURITY_STATUS status = functions.InitializeSecurityContextA(
        &session.credential->handle, nullptr, targetName_.data(), kRequestFlags, 0, SECURITY_NATIVE_DREP, nullptr, 0,
        &session.context, &output, &attributes, &expiry);
    if (status != SEC_I_CONTINUE_NEEDED) {
        if (token.pvBuffer != nullptr) functions.FreeContextBuffer(token.pvBuffer);
        setLastErrorText(formatText("InitializeSecurityContext Failed - Status = %d", static_cast<int>(status)));
        return false;
    }
    // Valid from here on, so that a failure below still deletes it.
    session.contextValid = true;

    if (token.cbBuffer != 0 && token.pvBuffer != nullptr) {
        const long sent = Send(token.pvBuffer, token.cbBuffer);
        functions.FreeContextBuffer(token.pvBuffer);
        if (sent == -1 || sent == 0) {
            setLastErrorText(formatText("Socket Error %d sending to server", lastSocketError()));
            return false;
        }
    }

    std::string extra;
    if (session.handshakeLoop(true, extra) != SEC_E_OK) return false;
    pendingData_ = std::move(extra);
    return !session.pinRefuses();
}

SECURITY_STATUS SecureChannel::Session::handshakeLoop(bool readFirst, std::string& extra) {
    SecurityFunctionTableA& functions = *credential->functions;
    std::array<char, kInputBufferSize> input;
    std::size_t filled = 0;
    bool reading = readFirst;
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;

    while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE ||
           status == SEC_I_INCOMPLETE_CREDENTIALS) {
        if (filled == 0 || status == SEC_E_INCOMPLETE_MESSAGE) {
            if (reading) {
                const int count =
                    channel.ReceiveWithTimeout(input.data() + filled, input.size() - filled, kHandshakeTimeoutMs);
                if (count < 0) {
                    channel.setLastErrorText(
                        formatText("Socket Error %d receiving from server", channel.lastSocketError()));
                    return SEC_E_INTERNAL_ERROR;
                }
                if (count == 0) {
                    channel.setLastErrorText("Server disconnected unexpectedly.");
                    return SEC_E_INTERNAL_ERROR;
                }
                filled += static_cast<std::size_t>(count);
            } else {
                reading = true;
            }
        }

        SecBuffer in[2] = {buffer(SECBUFFER_TOKEN, input.data(), static_cast<unsigned long>(filled)),
                           buffer(SECBUFFER_EMPTY)};
        SecBufferDesc inDescription = describe(in, 2);
        SecBuffer token = buffer(SECBUFFER_TOKEN);
        SecBufferDesc outDescription = describe(&token, 1);
        ULONG attributes = 0;
        TimeStamp expiry{};
        status = functions.InitializeSecurityContextA(&credential->handle, &context, nullptr, kRequestFlags, 0,
                                                      SECURITY_NATIVE_DREP, &inDescription, 0, nullptr,
                                                      &outDescription, &attributes, &expiry);

        // The next flight, or the alert that explains a failure.
        const bool sendToken = status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
                               (FAILED(status) && (attributes & ISC_RET_EXTENDED_ERROR) != 0);
        if (token.cbBuffer != 0 && token.pvBuffer != nullptr) {
            const long sent = sendToken ? channel.Send(token.pvBuffer, token.cbBuffer) : 1;
            functions.FreeContextBuffer(token.pvBuffer);
            if (sent == -1 || sent == 0) {
                channel.setLastErrorText(
                    formatText("Socket Error %d sending to server(2)", channel.lastSocketError()));
                return SEC_E_INTERNAL_ERROR;
            }
        }

        if (status == SEC_E_INCOMPLETE_MESSAGE) continue;
        if (status == SEC_E_OK) {
            if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
                try {
                    extra.assign(input.data() + filled - in[1].cbBuffer, in[1].cbBuffer);
                } catch (const std::bad_alloc&) {
                    channel.setLastErrorText("Out of memory in SSL Handshake.");
                    return SEC_E_INTERNAL_ERROR;
                }
            }
            return SEC_E_OK;
        }
        if (FAILED(status)) {
            channel.setLastErrorText(formatText("InitializeSecurityContext Failed(2) - Status = %d", static_cast<int>(status)));
            return status;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
            // No client certificate to offer: go on with what there is.
            status = SEC_I_CONTINUE_NEEDED;
            reading = false;
            continue;
        }
        if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
            std::memmove(input.data(), input.data() + filled - in[1].cbBuffer, in[1].cbBuffer);
            filled = in[1].cbBuffer;
        } else {
            filled = 0;
        }
    }
    return status;
}

bool SecureChannel::SetContextSizes() {
    SecPkgContext_StreamSizes sizes{};
    const SECURITY_STATUS status =
        session_->contextValid
            ? session_->credential->functions->QueryContextAttributesA(&session_->context, SECPKG_ATTR_STREAM_SIZES,
                                                                      &sizes)
            : SEC_E_INVALID_HANDLE;
    if (status != SEC_E_OK) {
        setLastErrorText(formatText("QueryContextAttributes return Error - %d(SetContextSizes)", static_cast<int>(status)));
        return false;
    }
    headerSize_ = sizes.cbHeader;
    maximumMessage_ = sizes.cbMaximumMessage;
    trailerSize_ = sizes.cbTrailer;
    return reserveMessageBuffer();
}

bool SecureChannel::EncryptSend(const void* data, std::size_t length) {
    if (length > maximumMessage_) {
        setLastErrorText("Message too large to Send!.");
        return false;
    }
    if (length == 0) return true;
    Session& session = *session_;
    if (!session.contextValid) {
        setLastErrorText(formatText("Error 0x%x Encrypting Message.", static_cast<unsigned>(SEC_E_INVALID_HANDLE)));
        return false;
    }
    char* message = reinterpret_cast<char*>(messageBuffer_.data());
    std::memcpy(message + headerSize_, data, length);
    SecBuffer parts[4] = {
        buffer(SECBUFFER_STREAM_HEADER, message, static_cast<unsigned long>(headerSize_)),
        buffer(SECBUFFER_DATA, message + headerSize_, static_cast<unsigned long>(length)),
        buffer(SECBUFFER_STREAM_TRAILER, message + headerSize_ + length, static_cast<unsigned long>(trailerSize_)),
        buffer(SECBUFFER_EMPTY),
    };
    SecBufferDesc description = describe(parts, 4);
    const SECURITY_STATUS status = session.credential->functions->EncryptMessage(&session.context, 0, &description, 0);
    if (FAILED(status)) {
        setLastErrorText(formatText("Error 0x%x Encrypting Message.", static_cast<unsigned>(status)));
        return false;
    }
    // The header, data and trailer lie one behind the other; the trailer may have come back shorter.
    const std::size_t total = parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer;
    const long sent = Send(message, total);
    if (sent == -1 || sent == 0) {
        setLastErrorText(formatText("Socket Error %d sending to Host", lastSocketError()));
        return false;
    }
    return true;
}

int SecureChannel::ReceiveAndDecrypt(std::size_t& bytesAppended, std::string& text, uint32_t timeoutMs) {
    bytesAppended = 0;
    Session& session = *session_;
    std::array<char, kInputBufferSize> input;
    std::size_t filled = 0;
    SECURITY_STATUS status = SEC_E_OK;
    bool decrypted = false;  // a status from DecryptMessage exists

    for (;;) {
        if (!pendingData_.empty()) {
            // More than the buffer holds cannot come from a conforming server;
            // what does not fit stays pending for the next pass, not lost.
            const std::size_t count = std::min(pendingData_.size(), input.size() - filled);
            std::memcpy(input.data() + filled, pendingData_.data(), count);
            filled += count;
            pendingData_.erase(0, count);
        }
        if (filled == 0 || (decrypted && status == SEC_E_INCOMPLETE_MESSAGE)) {
            const int count = session.contextValid
                                  ? ReceiveWithTimeout(input.data() + filled, input.size() - filled, timeoutMs)
                                  : 0;
            if (count < 0) {
                setLastErrorText(formatText("Socket Error %d reading data from server", lastSocketError()));
                return kSocketError;
            }
            if (count == 0) break;
            filled += static_cast<std::size_t>(count);
        }

        SecBuffer parts[4] = {buffer(SECBUFFER_DATA, input.data(), static_cast<unsigned long>(filled)),
                              buffer(SECBUFFER_EMPTY), buffer(SECBUFFER_EMPTY), buffer(SECBUFFER_EMPTY)};
        SecBufferDesc description = describe(parts, 4);
        status = session.credential->functions->DecryptMessage(&session.context, &description, 0, nullptr);
        decrypted = true;

        if (status == SEC_E_INCOMPLETE_MESSAGE) continue;
        if (status == SEC_I_CONTEXT_EXPIRED) {
            setLastErrorText(kSessionEndText);
            return kSessionEnded;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
            setLastErrorText(formatText("Error 0x%x returned by DecryptMessage.", static_cast<unsigned>(status)));
            return kDecryptFailed;
        }

        const SecBuffer* plain = nullptr;
        const SecBuffer* extra = nullptr;
        for (int i = 1; i < 4; ++i) {
            if (plain == nullptr && parts[i].BufferType == SECBUFFER_DATA) plain = &parts[i];
            if (extra == nullptr && parts[i].BufferType == SECBUFFER_EXTRA) extra = &parts[i];
        }
        if (plain != nullptr && plain->cbBuffer > 0) {
            text.append(static_cast<const char*>(plain->pvBuffer), plain->cbBuffer);
            bytesAppended += plain->cbBuffer;
        }
        if (extra != nullptr && extra->cbBuffer > 0) {
            std::memmove(input.data(), extra->pvBuffer, extra->cbBuffer);
            filled = extra->cbBuffer;
        } else {
            filled = 0;
        }

        if (status == SEC_I_RENEGOTIATE) {
            std::string handedBack;
            if (session.handshakeLoop(false, handedBack) != SEC_E_OK) {
                setLastErrorText(kRenegotiationText);
                return kRenegotiationFailed;
            }
            if (session.pinRefuses()) return kRenegotiationFailed;
            // What came behind the new handshake is the next input, like pending data.
            filled = 0;
            pendingData_ = std::move(handedBack);
            continue;
        }
        if (filled == 0) return kDataAppended;
    }

    if (filled > 0) {
        setLastErrorText(kCutOffText);
        return kSocketError;
    }
    setLastErrorText(kTimeoutText);
    return kTimedOut;
}

void SecureChannel::NotifyShutdown() {
    Session& session = *session_;
    if (!session.contextValid) return;
    SecurityFunctionTableA& functions = *session.credential->functions;
    // Silent: the peer is often gone by now, and the reason the caller is
    // about to report must not give way to this notification's failure.
    const std::string reason = LastErrorText();

    DWORD shutdownToken = SCHANNEL_SHUTDOWN;
    SecBuffer control = buffer(SECBUFFER_TOKEN, &shutdownToken, sizeof shutdownToken);
    SecBufferDesc controlDescription = describe(&control, 1);
    if (FAILED(functions.ApplyControlToken(&session.context, &controlDescription))) return;

    SecBuffer token = buffer(SECBUFFER_TOKEN);
    SecBufferDesc output = describe(&token, 1);
    ULONG attributes = 0;
    TimeStamp expiry{};
    const SECURITY_STATUS status = functions.InitializeSecurityContextA(
        &session.credential->handle, &session.context, nullptr, kRequestFlags, 0, SECURITY_NATIVE_DREP, nullptr, 0,
        &session.context, &output, &attributes, &expiry);
    if (token.pvBuffer != nullptr) {
        if (!FAILED(status) && token.cbBuffer != 0) Send(token.pvBuffer, token.cbBuffer);
        functions.FreeContextBuffer(token.pvBuffer);
    }
    setLastErrorText(reason);
}

}  // namespace korvane
