// The TLS server the Windows secure channel test under Wine talks to: one
// loopback port per scenario of TlsScenarios.h, written to the ports file
// given as the argument. Strict: every byte from the client that is not what
// the test sends, and every step the client leaves out, is reported as a
// deviation on standard error. Runs until SIGTERM or SIGINT, then prints
// "violations: N" and exits 1 when N is not 0.
#include "tests/server/TlsTestServer.h"
#include "tests/windows/peers/TlsScenarios.h"

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace korvane::test::tls {
namespace {

constexpr int kWaitMs = 15000;

std::atomic<int> violations{0};
std::mutex outputLock;

void deviation(const std::string& scenario, const std::string& what) {
    violations++;
    std::lock_guard<std::mutex> guard(outputLock);
    std::cerr << "deviation: " << scenario << ": " << what << std::endl;
}

std::string printable(const std::string& bytes) {
    std::ostringstream text;
    for (unsigned char c : bytes.substr(0, 64)) {
        if (c >= 0x20 && c < 0x7F) text << c;
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text << hex;
        }
    }
    if (bytes.size() > 64) text << "... (" << bytes.size() << " bytes)";
    return text.str();
}

// Compares what came with what the test sends, naming the first byte that differs.
void expectPlain(TlsServerSide& side, const std::string& scenario, const std::string& expected) {
    const auto received = side.receivePlain(expected.size(), kWaitMs);
    if (!received) {
        deviation(scenario, "expected " + std::to_string(expected.size()) + " bytes \"" + printable(expected) +
                                "\", the connection ended or went silent first");
        return;
    }
    if (*received == expected) return;
    std::size_t at = 0;
    while (at < expected.size() && (*received)[at] == expected[at]) ++at;
    deviation(scenario, "byte " + std::to_string(at) + " differs: received \"" + printable(received->substr(at)) +
                            "\", expected \"" + printable(expected.substr(at)) + "\"");
}

void expectCloseNotify(TlsServerSide& side, const std::string& scenario) {
    if (!side.awaitCloseNotify(kWaitMs)) deviation(scenario, "no close notification from the client");
}

// Nothing but the end of the connection, with or without a close notification.
void expectNoData(TlsServerSide& side, const std::string& scenario) {
    if (const auto received = side.receivePlain(1, kWaitMs))
        deviation(scenario, "unexpected data from the client: \"" + printable(*received) + "\"");
}

// "address:port" as /proc/net/tcp writes an IPv4 endpoint.
std::string procEndpoint(const sockaddr_in& address) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X:%04X", address.sin_addr.s_addr, ntohs(address.sin_port));
    return text;
}

// Waits until the client process has read everything sent on `fd`: nothing
// unacknowledged on this side and nothing queued on the client's. The client
// runs in another process (Wine), so its queue is read from /proc/net/tcp.
bool awaitClientRead(int fd) {
    sockaddr_in local{}, remote{};
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    length = sizeof remote;
    getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &length);
    const std::string ours = procEndpoint(local);
    const std::string theirs = procEndpoint(remote);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream table("/proc/net/tcp");
        std::string line;
        std::getline(table, line);
        bool oursSent = false, theirsRead = false;
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, from, to, state, queues;
            fields >> slot >> from >> to >> state >> queues;
            const auto colon = queues.find(':');
            if (colon == std::string::npos) continue;
            const unsigned long tx = std::stoul(queues.substr(0, colon), nullptr, 16);
            const unsigned long rx = std::stoul(queues.substr(colon + 1), nullptr, 16);
            if (from == ours && to == theirs) oursSent = tx == 0;
            if (from == theirs && to == ours) theirsRead = rx == 0;
        }
        if (oursSent && theirsRead) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

using Script = std::function<void(TlsServerSide&, const std::string&)>;

bool handshake(TlsServerSide& side, const std::string& scenario, std::string* held = nullptr) {
    if (side.handshake(held, kWaitMs)) return true;
    deviation(scenario, "the handshake did not complete");
    return false;
}

const std::map<std::string, Script>& scripts() {
    static const std::map<std::string, Script> table = {
        {"exchange",
         [](TlsServerSide& side, const std::string& name) {
             if (!handshake(side, name)) return;
             expectPlain(side, name, kClientGreeting);
             side.sendRecord(kServerGreeting);
             expectCloseNotify(side, name);
         }},
        {"last-flight-data",
         [](TlsServerSide& side, const std::string& name) {
             std::string held;
             if (!handshake(side, name, &held)) return;
             side.sendRaw(held + side.seal(kLastFlightData));
             expectCloseNotify(side, name);
         }},
        {"split-record",
         [](TlsServerSide& side, const std::string& name) {
             if (!handshake(side, name)) return;
             const std::string record = side.seal(splitRecordText());
             const std::size_t cuts[] = {0, 7, record.size() / 2, record.size()};
             for (int piece = 0; piece < 3; ++piece) {
                 side.sendRaw(record.substr(cuts[piece], cuts[piece + 1] - cuts[piece]));
                 if (piece < 2 && !awaitClientRead(side.fd())) {
                     deviation(name, "the client did not read piece " + std::to_string(piece + 1) + " of the record");
                     return;
                 }
             }
             expectCloseNotify(side, name);
         }},
        {"several-records",
         [](TlsServerSide& side, const std::string& name) {
             if (!handshake(side, name)) return;
             std::string records;
             for (const char* text : kSeveralRecords) records += side.seal(text);
             side.sendRaw(records);
             expectCloseNotify(side, name);
         }},
        {"close-notify",
         [](TlsServerSide& side, const std::string& name) {
             if (!handshake(side, name)) return;
             side.sendRaw(side.sealCloseNotify());
             if (!side.awaitPeerClose(kWaitMs)) deviation(name, "the client did not close TCP");
         }},
        {"cut-record",
         [](TlsServerSide& side, const std::string& name) {
             if (!handshake(side, name)) return;
             const std::string record = side.seal(kCutRecord);
             side.sendRaw(record.substr(0, record.size() / 2));
             if (!awaitClientRead(side.fd())) deviation(name, "the client did not read the half record");
             side.closeTcp();
         }},
        {"tcp-close",
         [](TlsServerSide& side, const std::string& name) {
             if (handshake(side, name)) side.closeTcp();
         }},
        {"silence",
         [](TlsServerSide& side, const std::string& name) {
             if (handshake(side, name)) expectNoData(side, name);
         }},
        {"renegotiate",
         [](TlsServerSide& side, const std::string& name) {
             side.limitVersion(TLS1_2_VERSION);
             if (!handshake(side, name)) return;
             // OpenSSL counts the HelloRequest it sends as a handshake of its own.
             side.sendRaw(side.sealHelloRequest());
             if (!side.awaitHandshakes(side.handshakesCompleted() + 1, kWaitMs)) {
                 deviation(name, "the client did not complete the renegotiation");
                 return;
             }
             side.sendRecord(kAfterRenegotiation);
             expectPlain(side, name, kReplyAfterRenegotiation);
             expectCloseNotify(side, name);
         }},
        {"largest",
         [](TlsServerSide& side, const std::string& name) {
             if (!handshake(side, name)) return;
             expectPlain(side, name, patternText(kLargestMessage));
             expectCloseNotify(side, name);
         }},
        {"garbage",
         [](TlsServerSide& side, const std::string& name) {
             if (!side.receiveRaw(kWaitMs)) {
                 deviation(name, "no ClientHello");
                 return;
             }
             // Whole as a record, so that no TLS stack waits for more: an unknown content type.
             side.sendRaw(std::string("\x99\x03\x03\x00\x08NOT TLS!", 13));
             side.awaitPeerClose(kWaitMs);
         }},
    };
    return table;
}

int listenOnLoopback() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(fd, 8) != 0) {
        std::perror("listen");
        std::exit(2);
    }
    return fd;
}

uint16_t portOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Serves every connection to `listener` with `script`, each on its own thread.
void serve(int listener, std::string name, Script script) {
    std::thread([listener, name = std::move(name), script = std::move(script)] {
        for (;;) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            const int noDelay = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
            std::thread([fd, name, script] {
                TlsServerSide side(fd);
                script(side, name);
            }).detach();
        }
    }).detach();
}

}  // namespace
}  // namespace korvane::test::tls

int main(int argc, char** argv) {
    using namespace korvane::test;
    using namespace korvane::test::tls;
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " PORTS_FILE" << std::endl;
        return 2;
    }
    // The signals that end the run are taken by sigwait below, on no other thread.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::unique_ptr<RefusingPort>> refusing;
    std::vector<std::unique_ptr<SilentListener>> mute;
    std::ostringstream ports;
    for (const char* name : kScenarios) {
        uint16_t port = 0;
        if (std::string(name) == "refused") {
            refusing.push_back(std::make_unique<RefusingPort>());
            port = refusing.back()->port();
        } else if (std::string(name) == "mute") {
            mute.push_back(std::make_unique<SilentListener>());
            port = mute.back()->port();
        } else {
            const int listener = listenOnLoopback();
            port = portOf(listener);
            serve(listener, name, scripts().at(name));
        }
        ports << name << ' ' << port << '\n';
    }
    ports << "fingerprint " << TlsServerSide::certificateSha256(0) << '\n';

    // Written whole under another name first: the script waits for the file to appear.
    const std::string path = argv[1];
    {
        std::ofstream out(path + ".part");
        out << ports.str();
    }
    std::rename((path + ".part").c_str(), path.c_str());
    std::cout << ports.str() << std::flush;

    int signalNumber = 0;
    sigwait(&ending, &signalNumber);
    const int count = violations.load();
    std::cout << "violations: " << count << std::endl;
    std::_Exit(count == 0 ? 0 : 1);
}
