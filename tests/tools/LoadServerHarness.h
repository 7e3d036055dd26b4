#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

struct ssl_st;
struct ssl_ctx_st;

namespace korvane::test {

inline constexpr char kSecret[] = "K0RVANE7TESTSECRET0123456789ABCDE";
inline constexpr char kFs = '\x1C';

// What --show-loads or --show-operations printed.
struct Table {
    std::vector<std::string> title;
    std::vector<std::vector<std::string>> rows;
    std::string at(std::size_t row, const std::string& column) const;
    // The first row whose column holds `value`, or -1.
    int find(const std::string& column, const std::string& value) const;
};

// The real korvane-load-server on a free loopback port, with a package
// folder and a record store in its own temporary folder.
class ServerProcess {
public:
    // `extraArgs` are appended (fault switches, --block-size ...).
    explicit ServerProcess(const std::vector<std::string>& extraArgs = {});
    ~ServerProcess();

    uint16_t port() const { return port_; }
    const TempDir& folder() const { return folder_; }
    ChildProcess& process() { return *process_; }
    std::string databasePath() const { return folder_.file("records.db"); }

    // --show-loads or --show-operations of the record store.
    Table show(const char* what) const;
    // Operations are recorded when the client has gone; waits for `rows` of them.
    Table waitForOperations(std::size_t rows) const;
    // SIGTERM and the exit status.
    int stop();

    // A package and a named file the tests fetch.
    static constexpr char kModel[] = "iPP350_RBA";
    static constexpr char kModelVersion[] = "RBA-23.04.01";
    static constexpr char kInfoFileName[] = "UGEN0500.TGZ";
    static constexpr char kFileName[] = "CCOD.K3Z";
    static constexpr char kFileVersion[] = "7";
    static std::string packageBytes();
    static std::string fileBytes();

private:
    TempDir folder_;
    std::unique_ptr<ChildProcess> process_;
    uint16_t port_ = 0;
};

std::string programPath();

// One message as the server framed it: its header lines (CR LF ended) and body.
struct Message {
    std::vector<std::string> headerLines;  // without CR LF
    std::string body;
    std::string header(const std::string& prefix) const;  // value after "Prefix: ", exact case
};

// A plain OpenSSL client, blocking with time-outs; it knows the wire format
// only from its description, not from the loader's or the server's code.
class RawTlsClient {
public:
    // `tlsVersion`: the highest version offered, and the only one (TLS1_VERSION ...).
    explicit RawTlsClient(uint16_t port, int receiveTimeoutMs = 10000, int tlsVersion = 0);
    ~RawTlsClient();
    RawTlsClient(const RawTlsClient&) = delete;
    RawTlsClient& operator=(const RawTlsClient&) = delete;

    bool connectTcp();
    bool handshake();
    bool connect() { return connectTcp() && handshake(); }

    bool send(std::string_view bytes);     // through TLS
    bool sendTcp(std::string_view bytes);  // straight onto the socket
    // One whole message: header up to the blank line, then Content-Length bytes.
    std::optional<Message> readMessage();
    // How the last failed read ended.
    enum class End { none, closeNotify, eof, timeout, error };
    End lastEnd() const { return end_; }

    int handshakes() const { return handshakes_; }
    int applicationRecords() const { return applicationRecords_; }
    void close();
    // Closes the socket without close_notify, as a crashed client would.
    void abandon();

private:
    bool fill();

    uint16_t port_;
    int timeoutMs_;
    int tlsVersion_;
    int fd_ = -1;
    ssl_ctx_st* context_ = nullptr;
    ssl_st* ssl_ = nullptr;
    std::string pending_;
    End end_ = End::none;
    int handshakes_ = 0;
    int applicationRecords_ = 0;
};

// The challenge arithmetic, written here from its description: RC4 with the
// MD5 of the secret as key, a fresh keystream per call, upper-case hex.
std::string hexUpper(std::string_view bytes);
std::string decodeHexByWireRule(std::string_view text);  // non "0-9A-F" digits count as 0
std::string rc4(std::string_view key, std::string_view data);
std::string answerFor(const std::string& secret, const std::string& challengeText);
std::string md5Hex(std::string_view bytes);

std::string requestMessage(const std::vector<std::string>& items);  // items "KEY=value"
std::string statusMessage(long lastGood, long nextExpected, const std::string& status, const std::string& text);
std::map<std::string, std::string> itemsOf(const std::string& body);

// A client run up to the response: challenge read, request sent, response read.
struct Exchange {
    std::string challenge;
    std::string clientChallenge;  // CC sent
    std::optional<Message> response;
    std::map<std::string, std::string> items;
    std::string item(const std::string& key) const;  // empty when missing
};
// Sends CC, CR (answered with `secret`), REQ and `items`.
Exchange exchange(RawTlsClient& client, const std::string& request, const std::vector<std::string>& items,
                  const std::string& secret = kSecret);
std::vector<std::string> loadItems(const std::string& model);
// Acknowledges block after block until `length` bytes came; what came, or
// nullopt when a block is missing or out of order.
std::optional<std::string> downloadAll(RawTlsClient& client, std::size_t length);

}  // namespace korvane::test
