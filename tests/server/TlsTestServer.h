#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

struct ssl_st;
struct ssl_ctx_st;
struct bio_st;

namespace korvane::test {

// The server end of one TLS connection, driven through memory BIOs so that a
// test decides exactly which bytes go into which TCP write: records split or
// packed together, the last handshake flight held back, raw garbage.
// TLS 1.0 to 1.2 at security level 0, with a self-signed certificate made in
// code once per process.
class TlsServerSide {
public:
    explicit TlsServerSide(int fd);  // takes the accepted socket
    ~TlsServerSide();
    TlsServerSide(const TlsServerSide&) = delete;
    TlsServerSide& operator=(const TlsServerSide&) = delete;

    // Runs the server handshake. With `heldFinalFlight` the last flight is not
    // sent but handed back, so that the caller can send it with more bytes.
    bool handshake(std::string* heldFinalFlight = nullptr, int timeoutMs = 10000);

    // The fingerprint of identity 0 (the one every connection starts with) or
    // of identity 1, another server's, as `openssl x509 -fingerprint -sha256` shows it.
    static std::string certificateSha256(int which = 0);
    // From the next handshake on (a renegotiation, or the first), this side
    // shows identity `which`, in full: no session is resumed.
    void presentCertificate(int which);

    std::string seal(std::string_view plaintext);  // one application record
    std::string sealCloseNotify();
    std::string sealHelloRequest();                 // asks the client to renegotiate

    bool sendRaw(std::string_view bytes);
    bool sendRecord(std::string_view plaintext) { return sendRaw(seal(plaintext)); }

    // Reads and decrypts (carrying out any handshake on the way) until
    // `count` plaintext bytes are in; nullopt on time-out, close or error.
    std::optional<std::string> receivePlain(std::size_t count, int timeoutMs = 10000);
    // Reads one whole message of the load server protocol (headers, blank
    // line, Content-Length bytes); its own reading, independent of the client's.
    std::optional<std::string> receiveMessage(int timeoutMs = 10000);
    // Raw bytes from the socket: whatever arrives first.
    std::optional<std::string> receiveRaw(int timeoutMs = 10000);
    // Reads (answering any handshake) until `count` handshakes have completed.
    bool awaitHandshakes(int count, int timeoutMs = 10000);
    // True once the client's close notification has arrived.
    bool awaitCloseNotify(int timeoutMs = 10000);
    // Limits this connection to one protocol version (TLS1_VERSION ...).
    void limitVersion(int version);
    // True once the peer's orderly TCP close (after any data) has been seen.
    bool awaitPeerClose(int timeoutMs = 10000);

    void closeTcp();
    int handshakesCompleted() const;
    int fd() const { return fd_; }

private:
    bool readIntoEngine(int timeoutMs);
    bool fill(std::size_t count, int timeoutMs);
    bool flush();
    static void onInfo(const ssl_st* ssl, int where, int value);

    int fd_;
    ssl_st* ssl_ = nullptr;
    bio_st* in_ = nullptr;
    bio_st* out_ = nullptr;
    std::string plain_;  // decrypted, not yet handed out
    std::atomic<int> handshakes_{0};
};

// Listens on `address` (an ephemeral port) and runs `script` on its own thread
// for the first connection accepted. GoogleTest assertions may be used there.
class TlsTestServer {
public:
    using Script = std::function<void(TlsServerSide&)>;

    explicit TlsTestServer(Script script, const std::string& address = "127.0.0.1");
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    uint16_t port() const { return port_; }
    // Waits for the script to end.
    void join();

private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

// A TCP port on `address` that refuses connections: bound, never listening.
class RefusingPort {
public:
    explicit RefusingPort(const std::string& address = "127.0.0.1");
    ~RefusingPort();
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A port whose kernel accepts TCP connections but where nothing ever speaks.
class SilentListener {
public:
    explicit SilentListener(const std::string& address = "127.0.0.1");
    ~SilentListener();
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// This process's own socket at the other end of `fd` (both ends live in the
// test), so that a test can wait until the client has read what was sent.
int localPeerSocket(int fd);
// Waits until nothing is queued for reading on `fd`.
bool awaitDrained(int fd, int timeoutMs = 10000);

}  // namespace korvane::test
