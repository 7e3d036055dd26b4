#include "tests/tools/LoadServerHarness.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace korvane::test {
namespace {

// Deterministic bytes with zeros and high bytes in them.
std::string patternBytes(std::size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>((seed >> 16) & 0xFF);
    }
    return bytes;
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

}  // namespace

std::string programPath() { return KORVANE_LOAD_SERVER_PROGRAM; }

ServerProcess::ServerProcess(const std::vector<std::string>& extraArgs) {
    std::filesystem::create_directories(folder_.file("packages/apps"));
    std::filesystem::create_directories(folder_.file("packages/files"));
    folder_.write("packages/packages.ini", std::string("# test packages\n[model ") + kModel +
                                               "]\nfile = apps/ipp350.bin\n" + "version = " + kModelVersion +
                                               "\ninfo-file-name = " + kInfoFileName + "\n\n[file " + kFileName +
                                               "]\nversion = " + kFileVersion + "\n");
    folder_.write("packages/apps/ipp350.bin", packageBytes());
    folder_.write(std::string("packages/files/") + kFileName, fileBytes());
    std::vector<std::string> args = {"--port",   "0", "--packages", folder_.file("packages"), "--database",
                                     databasePath(), "--secret", kSecret};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    process_ = std::make_unique<ChildProcess>(programPath(), args);
    if (!waitUntil(
            [this] { return process_->standardOutput().find('\n') != std::string::npos || !process_->running(); },
            30000))
        throw std::runtime_error("the load server did not start");
    const std::string first = process_->standardOutput();
    const std::string prefix = "listening on 127.0.0.1:";
    if (first.rfind(prefix, 0) != 0)
        throw std::runtime_error("unexpected first line: " + first + process_->standardError());
    port_ = static_cast<uint16_t>(std::stoi(first.substr(prefix.size())));
}

// A sanitizer report or a crash in the server shows as a non-zero exit status.
ServerProcess::~ServerProcess() {
    const int status = stop();
    if (status != 0) ADD_FAILURE() << "load server exit status " << status << "\n" << process_->standardError();
}

int ServerProcess::stop() {
    process_->signal(SIGTERM);
    return process_->waitForExit(30000);
}

std::string ServerProcess::packageBytes() { return patternBytes(5000, 7); }
std::string ServerProcess::fileBytes() { return patternBytes(10000, 11); }

Table ServerProcess::show(const char* what) const {
    ChildProcess shower(programPath(), {what, databasePath()});
    if (shower.waitForExit(30000) != 0) throw std::runtime_error("show failed: " + shower.standardError());
    Table table;
    for (const std::string& line : splitAt(shower.standardOutput(), '\n')) {
        std::vector<std::string> fields = splitAt(line, '\t');
        if (!line.empty() && line.back() == '\t') fields.emplace_back();
        if (table.title.empty()) table.title = fields;
        else table.rows.push_back(fields);
    }
    return table;
}

Table ServerProcess::waitForOperations(std::size_t rows) const {
    Table table;
    waitUntil([&] { return (table = show("--show-operations")).rows.size() >= rows; }, 20000);
    return table;
}

std::string Table::at(std::size_t row, const std::string& column) const {
    const auto found = std::find(title.begin(), title.end(), column);
    const auto index = static_cast<std::size_t>(found - title.begin());
    if (found == title.end() || row >= rows.size() || index >= rows[row].size()) return "(missing)";
    return rows[row][index];
}

int Table::find(const std::string& column, const std::string& value) const {
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (at(row, column) == value) return static_cast<int>(row);
    return -1;
}

std::string Message::header(const std::string& prefix) const {
    for (const std::string& line : headerLines)
        if (line.rfind(prefix + ": ", 0) == 0) return line.substr(prefix.size() + 2);
    return {};
}

RawTlsClient::RawTlsClient(uint16_t port, int receiveTimeoutMs, int tlsVersion)
    : port_(port), timeoutMs_(receiveTimeoutMs), tlsVersion_(tlsVersion) {}

RawTlsClient::~RawTlsClient() {
    close();
    SSL_CTX_free(context_);
}

bool RawTlsClient::connectTcp() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{timeoutMs_ / 1000, (timeoutMs_ % 1000) * 1000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool RawTlsClient::handshake() {
    // OpenSSL writes to the socket without MSG_NOSIGNAL: a server that has
    // already closed must give this client a failed write, not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    context_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_security_level(context_, 0);
    SSL_CTX_set_max_proto_version(context_, tlsVersion_ != 0 ? tlsVersion_ : TLS1_2_VERSION);
    if (tlsVersion_ != 0) SSL_CTX_set_min_proto_version(context_, tlsVersion_);
    SSL_CTX_set_cipher_list(context_, "DEFAULT:@SECLEVEL=0");
    SSL_CTX_set_verify(context_, SSL_VERIFY_NONE, nullptr);
    ssl_ = SSL_new(context_);
    SSL_set_app_data(ssl_, this);
    SSL_set_info_callback(ssl_, [](const SSL* ssl, int where, int) {
        if ((where & SSL_CB_HANDSHAKE_START) != 0) ++static_cast<RawTlsClient*>(SSL_get_app_data(ssl))->handshakes_;
    });
    SSL_set_msg_callback(ssl_, [](int writing, int, int type, const void* data, size_t length, SSL* ssl, void*) {
        if (!writing && type == SSL3_RT_HEADER && length >= 1 &&
            static_cast<const unsigned char*>(data)[0] == SSL3_RT_APPLICATION_DATA)
            ++static_cast<RawTlsClient*>(SSL_get_app_data(ssl))->applicationRecords_;
    });
    SSL_set_fd(ssl_, fd_);
    const bool done = SSL_connect(ssl_) == 1;
    ERR_clear_error();
    return done;
}

bool RawTlsClient::send(std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 1 << 20));
        const int done = SSL_write(ssl_, bytes.data() + sent, chunk);
        if (done <= 0) {
            ERR_clear_error();
            return false;
        }
        sent += static_cast<std::size_t>(done);
    }
    return true;
}

bool RawTlsClient::sendTcp(std::string_view bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool RawTlsClient::fill() {
    char buffer[65536];
    const int got = SSL_read(ssl_, buffer, sizeof buffer);
    if (got > 0) {
        pending_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
    const int reason = SSL_get_error(ssl_, got);
    const unsigned long code = ERR_peek_error();
    if (reason == SSL_ERROR_ZERO_RETURN) end_ = End::closeNotify;
    else if (reason == SSL_ERROR_WANT_READ) end_ = End::timeout;
    else if (reason == SSL_ERROR_SSL && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING) end_ = End::eof;
    else if (reason == SSL_ERROR_SYSCALL && code == 0 && errno == 0) end_ = End::eof;
    else end_ = End::error;
    ERR_clear_error();
    return false;
}

std::optional<Message> RawTlsClient::readMessage() {
    end_ = End::none;
    std::size_t headerEnd;
    while ((headerEnd = pending_.find("\r\n\r\n")) == std::string::npos)
        if (!fill()) return std::nullopt;
    Message message;
    message.headerLines = splitAt(pending_.substr(0, headerEnd), '\n');
    for (std::string& line : message.headerLines)
        if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t length =
        std::stoul(message.header("Content-Length").empty() ? "0" : message.header("Content-Length"));
    while (pending_.size() < headerEnd + 4 + length)
        if (!fill()) return std::nullopt;
    message.body = pending_.substr(headerEnd + 4, length);
    pending_.erase(0, headerEnd + 4 + length);
    return message;
}

void RawTlsClient::close() {
    if (ssl_ != nullptr) {
        SSL_shutdown(ssl_);
        SSL_free(ssl_);
        ssl_ = nullptr;
        ERR_clear_error();
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void RawTlsClient::abandon() {
    if (ssl_ != nullptr) {
        SSL_set_quiet_shutdown(ssl_, 1);
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string hexUpper(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : bytes) {
        text.push_back(kDigits[c >> 4]);
        text.push_back(kDigits[c & 15]);
    }
    return text;
}

std::string decodeHexByWireRule(std::string_view text) {
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return 0;
    };
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<char>(value(text[i]) * 16 + value(text[i + 1])));
    return bytes;
}

std::string rc4(std::string_view key, std::string_view data) {
    unsigned char state[256];
    for (int i = 0; i < 256; ++i) state[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + state[i] + static_cast<unsigned char>(key[i % key.size()])) & 0xFF;
        std::swap(state[i], state[j]);
    }
    std::string out(data);
    for (std::size_t n = 0, i = 0, j = 0; n < out.size(); ++n) {
        i = (i + 1) & 0xFF;
        j = (j + state[i]) & 0xFF;
        std::swap(state[i], state[j]);
        out[n] = static_cast<char>(out[n] ^ state[(state[i] + state[j]) & 0xFF]);
    }
    return out;
}

std::string md5Hex(std::string_view bytes) {
    unsigned char digest[16];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    return hexUpper(std::string_view(reinterpret_cast<char*>(digest), length));
}

std::string answerFor(const std::string& secret, const std::string& challengeText) {
    if (challengeText.size() % 2 != 0) return {};
    unsigned char digest[16];
    unsigned int length = 0;
    EVP_Digest(secret.data(), secret.size(), digest, &length, EVP_md5(), nullptr);
    return hexUpper(rc4(std::string_view(reinterpret_cast<char*>(digest), 16), decodeHexByWireRule(challengeText)));
}

std::string requestMessage(const std::vector<std::string>& items) {
    std::string body;
    for (const std::string& item : items) body += item + kFs;
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string statusMessage(long lastGood, long nextExpected, const std::string& status, const std::string& text) {
    return "Content-Length: 0\r\nLast-Good-Block: " + std::to_string(lastGood) +
           "\r\nNext-Block-Expected: " + std::to_string(nextExpected) + "\r\nStatus: " + status +
           "\r\nStatus-Text: " + text + "\r\n\r\n";
}

std::map<std::string, std::string> itemsOf(const std::string& body) {
    std::map<std::string, std::string> items;
    for (const std::string& piece : splitAt(body, kFs)) {
        const auto equals = piece.find('=');
        if (equals != std::string::npos) items[piece.substr(0, equals)] = piece.substr(equals + 1);
    }
    return items;
}

std::string Exchange::item(const std::string& key) const {
    const auto found = items.find(key);
    return found == items.end() ? std::string() : found->second;
}

Exchange exchange(RawTlsClient& client, const std::string& request, const std::vector<std::string>& items,
                  const std::string& secret) {
    Exchange result;
    const auto challenge = client.readMessage();
    if (!challenge) return result;
    result.challenge = challenge->body;
    unsigned char random[16];
    RAND_bytes(random, sizeof random);
    result.clientChallenge = hexUpper(std::string_view(reinterpret_cast<char*>(random), sizeof random));
    std::vector<std::string> all = {"CC=" + result.clientChallenge, "CR=" + answerFor(secret, result.challenge),
                                    "REQ=" + request};
    all.insert(all.end(), items.begin(), items.end());
    if (!client.send(requestMessage(all))) return result;
    result.response = client.readMessage();
    if (result.response) result.items = itemsOf(result.response->body);
    return result;
}

std::vector<std::string> loadItems(const std::string& model) {
    return {"PP_APP_VER=11.20|10.90", "PP_CONFIG_VER=CFG5", "PP_KVRN_SN=0100-2200-33", "PP_MODEL=" + model,
            "PP_OEM_ID=OEM9"};
}

std::optional<std::string> downloadAll(RawTlsClient& client, std::size_t length) {
    std::string file;
    long next = 1;
    client.send(statusMessage(0, 1, "Success", "OK_TO_CONTINUE"));
    while (file.size() < length) {
        const auto block = client.readMessage();
        if (!block || block->header("BlockNo") != std::to_string(next)) return std::nullopt;
        file += block->body;
        ++next;
        if (file.size() < length) client.send(statusMessage(next - 1, next, "Success", "OK_TO_CONTINUE"));
    }
    client.send(statusMessage(-1, -1, "Success", "LOAD SUCCESSFUL"));
    return file;
}

}  // namespace korvane::test
