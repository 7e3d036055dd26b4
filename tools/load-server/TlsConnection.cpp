#include "tools/load-server/TlsConnection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace korvane {
namespace {

constexpr int kSliceMs = 100;
constexpr int kPiecePauseMs = 2;

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string opensslError(const char* lead) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return lead;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return std::string(lead) + ": " + text;
}

}  // namespace

TlsConnection::TlsConnection(int socketFd, ssl_ctx_st* context, const std::atomic<bool>& stopping)
    : fd_(socketFd), stopping_(stopping) {
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ssl_ = SSL_new(context);
    input_ = BIO_new(BIO_s_mem());
    output_ = BIO_new(BIO_s_mem());
    if (ssl_ != nullptr && input_ != nullptr && output_ != nullptr) {
        BIO_set_mem_eof_return(input_, -1);  // an empty input means "wait", not end of stream
        SSL_set_bio(ssl_, input_, output_);  // the session owns both from here
        SSL_set_accept_state(ssl_);
    } else {
        BIO_free(input_);
        BIO_free(output_);
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
}

TlsConnection::~TlsConnection() {
    closeWithNotify();
    SSL_free(ssl_);
    ERR_clear_error();
}

TlsConnection::Wait TlsConnection::waitFor(short events, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (stopping_.load()) return Wait::stopped;
        pollfd entry{fd_, events, 0};
        const int ready = ::poll(&entry, 1, std::min(kSliceMs, remainingMs(deadline)));
        if (ready > 0) return Wait::ready;
        if (ready < 0 && errno != EINTR) return Wait::failed;
        if (remainingMs(deadline) == 0) return Wait::timeout;
    }
}

long TlsConnection::pullFromSocket() {
    char buffer[65536];
    while (true) {
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got > 0) {
            BIO_write(input_, buffer, static_cast<int>(got));
            return got;
        }
        if (got == 0) return 0;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
        error_ = std::string("receive failed: ") + std::strerror(errno);
        return -1;
    }
}

bool TlsConnection::sendRaw(const char* data, std::size_t length, int timeoutMs) {
    std::size_t sent = 0;
    while (sent < length) {
        const ssize_t done = ::send(fd_, data + sent, length - sent, MSG_NOSIGNAL);
        if (done > 0) {
            sent += static_cast<std::size_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (waitFor(POLLOUT, timeoutMs) != Wait::ready) {
                error_ = "the client stopped reading";
                return false;
            }
            continue;
        }
        error_ = std::string("send failed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool TlsConnection::flush(int timeoutMs) {
    if (fd_ < 0 || ssl_ == nullptr) return false;
    char* data = nullptr;
    const long pending = BIO_get_mem_data(output_, &data);
    if (pending <= 0) return true;
    // Sent straight from OpenSSL's buffer: nothing touches the BIO meanwhile.
    const std::size_t size = static_cast<std::size_t>(pending);
    bool sent = true;
    if (splitPieces_ == 0 || !established_) {
        sent = sendRaw(data, size, timeoutMs);
    } else {
        for (std::size_t at = 0; sent && at < size; at += splitPieces_) {
            if (at != 0) std::this_thread::sleep_for(std::chrono::milliseconds(kPiecePauseMs));
            sent = sendRaw(data + at, std::min(splitPieces_, size - at), timeoutMs);
        }
    }
    (void)BIO_reset(output_);
    return sent;
}

bool TlsConnection::handshake(int timeoutMs, std::string& error) {
    if (ssl_ == nullptr) {
        error = "cannot set up a TLS session";
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const int result = SSL_do_handshake(ssl_);
        if (result == 1) {
            established_ = true;
            return true;
        }
        if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) {
            flush(1000);  // the alert, so the client learns why
            error = opensslError("TLS handshake failed");
            return false;
        }
        if (!flush(remainingMs(deadline))) {
            error = error_;
            return false;
        }
        const Wait wait = waitFor(POLLIN, remainingMs(deadline));
        if (wait != Wait::ready) {
            error = wait == Wait::stopped ? "server stopping" : "no TLS handshake from the client";
            return false;
        }
        const long got = pullFromSocket();
        if (got == 0 || got == -1) {
            error = got == 0 ? "client closed during the TLS handshake" : error_;
            return false;
        }
    }
}

TlsConnection::Read TlsConnection::readSome(std::string& into, int timeoutMs) {
    if (fd_ < 0 || !established_) return Read::failed;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool gotData = false;
    char buffer[16384];
    while (true) {
        const int got = SSL_read(ssl_, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, static_cast<std::size_t>(got));
            gotData = true;
            continue;
        }
        const int reason = SSL_get_error(ssl_, got);
        // A renegotiation in progress has replies to send even when no data came.
        if (!flush(std::max(remainingMs(deadline), 1000))) return gotData ? Read::data : Read::failed;
        if (reason == SSL_ERROR_ZERO_RETURN) return gotData ? Read::data : Read::closeNotify;
        if (reason != SSL_ERROR_WANT_READ) {
            error_ = opensslError("TLS read failed");
            return gotData ? Read::data : Read::failed;
        }
        if (gotData) return Read::data;
        const Wait wait = waitFor(POLLIN, remainingMs(deadline));
        if (wait == Wait::timeout) return Read::timeout;
        if (wait == Wait::stopped) return Read::stopped;
        if (wait == Wait::failed) return Read::failed;
        const long pulled = pullFromSocket();
        if (pulled == 0) return Read::peerClosed;
        if (pulled == -1) return Read::failed;
    }
}

bool TlsConnection::send(std::string_view bytes, int timeoutMs) {
    if (fd_ < 0 || !established_) return false;
    // Unless a test shapes the records, a large message leaves record by record,
    // so the client decrypts one while the next is encrypted.
    const bool streamed = recordSize_ == 0;
    const std::size_t record = streamed ? kStreamedRecordBytes : recordSize_;
    for (std::size_t at = 0; at < bytes.size(); at += record) {
        if (streamed && at != 0 && !flush(timeoutMs)) return false;
        const std::size_t length = std::min(record, bytes.size() - at);
        // A large write becomes several records inside OpenSSL; the memory BIO takes it all.
        while (true) {
            const int written = SSL_write(ssl_, bytes.data() + at, static_cast<int>(length));
            if (written == static_cast<int>(length)) break;
            // A renegotiation we asked for must finish first; the client's part of it
            // comes in once it reads our HelloRequest.
            if (written > 0 || SSL_get_error(ssl_, written) != SSL_ERROR_WANT_READ) {
                error_ = opensslError("TLS write failed");
                return false;
            }
            if (!flush(timeoutMs)) return false;
            if (waitFor(POLLIN, timeoutMs) != Wait::ready) {
                error_ = "no answer to the renegotiation";
                return false;
            }
            const long pulled = pullFromSocket();
            if (pulled == 0 || pulled == -1) {
                if (pulled == 0) error_ = "client closed during the renegotiation";
                return false;
            }
        }
    }
    return flush(timeoutMs);
}

bool TlsConnection::requestRenegotiation() {
    if (fd_ < 0 || !established_ || SSL_version(ssl_) > TLS1_2_VERSION) return false;
    if (SSL_renegotiate(ssl_) != 1) {
        error_ = opensslError("renegotiation refused");
        return false;
    }
    // Queues the HelloRequest; the client's new handshake arrives with the next reads.
    const int result = SSL_do_handshake(ssl_);
    if (result != 1 && SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) {
        error_ = opensslError("renegotiation failed");
        return false;
    }
    return flush(10000);
}

void TlsConnection::closeWithNotify() {
    if (fd_ < 0) return;
    if (established_ && ssl_ != nullptr) {
        if (SSL_shutdown(ssl_) < 0) ERR_clear_error();
        flush(1000);
    }
    closeSocket();
}

void TlsConnection::drop() { closeSocket(); }

void TlsConnection::holdUntilPeerLeaves(int limitMs) {
    if (fd_ < 0) return;
    flush(1000);
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    char discard[16384];
    while (waitFor(POLLIN, remainingMs(deadline)) == Wait::ready) {
        const ssize_t got = ::recv(fd_, discard, sizeof discard, 0);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) break;
    }
    closeSocket();
}

void TlsConnection::closeSocket() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace korvane
