#include "tests/server/TlsTestServer.h"

#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvane::test {

namespace {

// A fresh P-256 key and a self-signed certificate for it, made once per
// process; the second identity stands for a different server.
struct Identity {
    X509* certificate = nullptr;
    EVP_PKEY* key = nullptr;
};

const Identity& identity(int which) {
    static const auto make = [](const char* commonName, long serial) {
        Identity made;
        made.key = EVP_EC_gen("P-256");
        made.certificate = X509_new();
        if (made.key == nullptr || made.certificate == nullptr) throw std::runtime_error("cannot make a test key");
        X509_set_version(made.certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(made.certificate), serial);
        X509_gmtime_adj(X509_getm_notBefore(made.certificate), -3600);
        X509_gmtime_adj(X509_getm_notAfter(made.certificate), 24 * 3600);
        X509_set_pubkey(made.certificate, made.key);
        X509_NAME* name = X509_get_subject_name(made.certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1,
                                   -1, 0);
        X509_set_issuer_name(made.certificate, name);
        X509_sign(made.certificate, made.key, EVP_sha256());
        return made;
    };
    static const Identity identities[] = {make("loopback", 1), make("impostor", 2)};
    return identities[which == 0 ? 0 : 1];
}

// One server context for the whole test process, with the first identity.
SSL_CTX* serverContext() {
    static SSL_CTX* context = [] {
        SSL_CTX* made = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_security_level(made, 0);
        SSL_CTX_set_min_proto_version(made, TLS1_VERSION);
        SSL_CTX_set_max_proto_version(made, TLS1_2_VERSION);
        SSL_CTX_set_cipher_list(made, "DEFAULT:@SECLEVEL=0");
        if (SSL_CTX_use_certificate(made, identity(0).certificate) != 1 ||
            SSL_CTX_use_PrivateKey(made, identity(0).key) != 1)
            throw std::runtime_error("cannot load the test certificate");
        return made;
    }();
    return context;
}

uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

int bindTo(const std::string& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = 0;
    if (fd < 0 || inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0)
        throw std::runtime_error("cannot bind a test socket on " + address + ": " + std::strerror(errno));
    return fd;
}

bool waitReadable(int fd, int timeoutMs) {
    pollfd watch{fd, POLLIN, 0};
    return ::poll(&watch, 1, timeoutMs) > 0;
}

std::string drain(BIO* bio) {
    std::string bytes(BIO_ctrl_pending(bio), '\0');
    if (!bytes.empty()) {
        const int count = BIO_read(bio, bytes.data(), static_cast<int>(bytes.size()));
        bytes.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    }
    return bytes;
}

// Where a load server message ends by its headers, or npos while incomplete.
std::size_t messageEnd(const std::string& data) {
    std::size_t position = 0;
    std::size_t length = 0;
    for (;;) {
        const std::size_t lineEnd = data.find('\n', position);
        if (lineEnd == std::string::npos) return std::string::npos;
        std::string line = data.substr(position, lineEnd - position);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        position = lineEnd + 1;
        if (line.empty()) break;
        std::string lower;
        for (char c : line) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.rfind("content-length:", 0) == 0) length = std::stoul(line.substr(15));
    }
    return data.size() >= position + length ? position + length : std::string::npos;
}

}  // namespace

TlsServerSide::TlsServerSide(int fd) : fd_(fd) {
    ssl_ = SSL_new(serverContext());
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_accept_state(ssl_);
    SSL_set_app_data(ssl_, this);
    SSL_set_info_callback(ssl_, &TlsServerSide::onInfo);
}

TlsServerSide::~TlsServerSide() {
    SSL_free(ssl_);
    closeTcp();
}

void TlsServerSide::onInfo(const ssl_st* ssl, int where, int) {
    if ((where & SSL_CB_HANDSHAKE_DONE) != 0)
        static_cast<TlsServerSide*>(SSL_get_app_data(const_cast<SSL*>(ssl)))->handshakes_++;
}

int TlsServerSide::handshakesCompleted() const { return handshakes_.load(); }

bool TlsServerSide::readIntoEngine(int timeoutMs) {
    if (fd_ < 0 || !waitReadable(fd_, timeoutMs)) return false;
    char buffer[65536];
    const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
    if (count <= 0) return false;
    BIO_write(in_, buffer, static_cast<int>(count));
    return true;
}

bool TlsServerSide::flush() { return sendRaw(drain(out_)); }

bool TlsServerSide::handshake(std::string* heldFinalFlight, int timeoutMs) {
    for (;;) {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_);
        if (result == 1) {
            if (heldFinalFlight != nullptr) {
                *heldFinalFlight = drain(out_);
                return true;
            }
            return flush();
        }
        if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) return false;
        if (!flush() || !readIntoEngine(timeoutMs)) return false;
    }
}

std::string TlsServerSide::seal(std::string_view plaintext) {
    if (!plaintext.empty()) SSL_write(ssl_, plaintext.data(), static_cast<int>(plaintext.size()));
    return drain(out_);
}

std::string TlsServerSide::certificateSha256(int which) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(identity(which).certificate, EVP_sha256(), digest, &length);
    std::string text;
    char pair[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += pair;
    }
    return text;
}

void TlsServerSide::presentCertificate(int which) {
    SSL_use_certificate(ssl_, identity(which).certificate);
    SSL_use_PrivateKey(ssl_, identity(which).key);
    // A resumed session would keep the old certificate.
    SSL_set_options(ssl_, SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION | SSL_OP_NO_TICKET);
}

std::string TlsServerSide::sealCloseNotify() {
    SSL_shutdown(ssl_);
    return drain(out_);
}

std::string TlsServerSide::sealHelloRequest() {
    SSL_renegotiate(ssl_);
    SSL_do_handshake(ssl_);
    return drain(out_);
}

bool TlsServerSide::sendRaw(std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) return false;
        sent += static_cast<std::size_t>(count);
    }
    return true;
}

bool TlsServerSide::fill(std::size_t count, int timeoutMs) {
    while (plain_.size() < count) {
        char buffer[16384];
        ERR_clear_error();
        const int result = SSL_read(ssl_, buffer, sizeof buffer);
        if (!flush()) return false;
        if (result > 0) {
            plain_.append(buffer, static_cast<std::size_t>(result));
            continue;
        }
        if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ || !readIntoEngine(timeoutMs)) return false;
    }
    return true;
}

std::optional<std::string> TlsServerSide::receivePlain(std::size_t count, int timeoutMs) {
    if (!fill(count, timeoutMs)) return std::nullopt;
    std::string taken = plain_.substr(0, count);
    plain_.erase(0, count);
    return taken;
}

std::optional<std::string> TlsServerSide::receiveMessage(int timeoutMs) {
    for (;;) {
        const std::size_t end = messageEnd(plain_);
        if (end != std::string::npos) return receivePlain(end, timeoutMs);
        if (!fill(plain_.size() + 1, timeoutMs)) return std::nullopt;
    }
}

bool TlsServerSide::awaitHandshakes(int count, int timeoutMs) {
    while (handshakes_.load() < count) {
        char buffer[16384];
        ERR_clear_error();
        const int result = SSL_read(ssl_, buffer, sizeof buffer);
        if (!flush()) return false;
        if (result > 0) {
            plain_.append(buffer, static_cast<std::size_t>(result));
            continue;
        }
        if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ || !readIntoEngine(timeoutMs)) return false;
    }
    return true;
}

bool TlsServerSide::awaitCloseNotify(int timeoutMs) {
    for (;;) {
        char buffer[16384];
        ERR_clear_error();
        const int result = SSL_read(ssl_, buffer, sizeof buffer);
        if (result > 0) continue;
        const int error = SSL_get_error(ssl_, result);
        if (error == SSL_ERROR_ZERO_RETURN) return true;
        if (error != SSL_ERROR_WANT_READ || !readIntoEngine(timeoutMs)) return false;
    }
}

void TlsServerSide::limitVersion(int version) {
    SSL_set_min_proto_version(ssl_, version);
    SSL_set_max_proto_version(ssl_, version);
}

std::optional<std::string> TlsServerSide::receiveRaw(int timeoutMs) {
    if (fd_ < 0 || !waitReadable(fd_, timeoutMs)) return std::nullopt;
    char buffer[65536];
    const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
    if (count <= 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(count));
}

bool TlsServerSide::awaitPeerClose(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                 std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitReadable(fd_, static_cast<int>(left.count()))) return false;
        char buffer[4096];
        const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
        if (count == 0) return true;
        if (count < 0) return errno == ECONNRESET;
    }
    return false;
}

void TlsServerSide::closeTcp() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

TlsTestServer::TlsTestServer(Script script, const std::string& address) {
    listener_ = bindTo(address);
    if (::listen(listener_, 4) != 0) throw std::runtime_error("cannot listen");
    port_ = boundPort(listener_);
    thread_ = std::thread([this, script = std::move(script)] {
        if (!waitReadable(listener_, 20000)) {
            ADD_FAILURE() << "no client connected to the test server";
            return;
        }
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            ADD_FAILURE() << "accept failed: " << std::strerror(errno);
            return;
        }
        // The scripts write in small pieces; they must leave at once.
        const int noDelay = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        TlsServerSide side(fd);
        script(side);
    });
}

TlsTestServer::~TlsTestServer() {
    join();
    ::close(listener_);
}

void TlsTestServer::join() {
    if (thread_.joinable()) thread_.join();
}

RefusingPort::RefusingPort(const std::string& address) : fd_(bindTo(address)), port_(boundPort(fd_)) {}
RefusingPort::~RefusingPort() { ::close(fd_); }

SilentListener::SilentListener(const std::string& address) : fd_(bindTo(address)) {
    if (::listen(fd_, 4) != 0) throw std::runtime_error("cannot listen");
    port_ = boundPort(fd_);
}
SilentListener::~SilentListener() { ::close(fd_); }

int localPeerSocket(int fd) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return -1;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        int candidate = -1;
        try {
            candidate = std::stoi(entry.path().filename().string());
        } catch (...) {
            continue;
        }
        sockaddr_in local{};
        socklen_t localLength = sizeof local;
        if (candidate == fd || getsockname(candidate, reinterpret_cast<sockaddr*>(&local), &localLength) != 0)
            continue;
        if (local.sin_family == AF_INET && local.sin_port == peer.sin_port && local.sin_addr.s_addr == peer.sin_addr.s_addr)
            return candidate;
    }
    return -1;
}

bool awaitDrained(int fd, int timeoutMs) {
    return waitUntil(
        [fd] {
            int queued = -1;
            return ioctl(fd, FIONREAD, &queued) == 0 && queued == 0;
        },
        timeoutMs);
}

}  // namespace korvane::test
