#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

struct ssl_st;
struct bio_st;
struct ssl_ctx_st;

namespace korvane {

// One accepted client: a non-blocking TCP socket and an OpenSSL server
// session driven through memory BIOs, so the server decides when bytes go on
// the wire (the final handshake flight leaves together with the challenge)
// and can cut or merge records for tests. Every wait is sliced so that a
// stopping server is noticed within a tenth of a second.
class TlsConnection {
public:
    enum class Read { data, timeout, peerClosed, closeNotify, stopped, failed };

    // Takes ownership of `socketFd`.
    TlsConnection(int socketFd, ssl_ctx_st* context, const std::atomic<bool>& stopping);
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    // The handshake, waiting at most `timeoutMs` in all. The last flight stays
    // queued until the next send or flush.
    bool handshake(int timeoutMs, std::string& error);

    // Appends decrypted bytes; waits at most `timeoutMs` for the first of them.
    Read readSome(std::string& into, int timeoutMs);

    // Encrypts and sends at once; false when the peer is gone or stops reading
    // for `timeoutMs`.
    bool send(std::string_view bytes, int timeoutMs);
    bool flush(int timeoutMs);

    // TLS 1.2 and lower: a HelloRequest; the new handshake runs inside the next reads.
    bool requestRenegotiation();
    // close_notify, then the socket is closed.
    void closeWithNotify();
    // The socket is closed with no TLS alert at all.
    void drop();
    // Sends what is queued, then holds the connection until the peer leaves,
    // the server stops or `limitMs` passes, discarding what arrives.
    void holdUntilPeerLeaves(int limitMs);

    // Test shapes of the output: TCP pieces of at most `bytes`, or TLS records
    // of at most `bytes` sent in one go. 0 switches them off.
    void setSplitPieces(std::size_t bytes) { splitPieces_ = bytes; }
    void setRecordSize(std::size_t bytes) { recordSize_ = bytes; }

    const std::string& lastError() const { return error_; }

private:
    enum class Wait { ready, timeout, stopped, failed };
    Wait waitFor(short events, int timeoutMs);
    // Reads what the socket has into the TLS input; 0 when the peer closed.
    long pullFromSocket();
    bool sendRaw(const char* data, std::size_t length, int timeoutMs);
    void closeSocket();

    int fd_;
    ssl_st* ssl_ = nullptr;
    bio_st* input_ = nullptr;   // socket bytes for OpenSSL to read
    bio_st* output_ = nullptr;  // what OpenSSL wants sent
    const std::atomic<bool>& stopping_;
    bool established_ = false;
    std::size_t splitPieces_ = 0;
    std::size_t recordSize_ = 0;
    static constexpr std::size_t kStreamedRecordBytes = 16384;  // the largest plaintext of one record
    std::string error_;
};

}  // namespace korvane
