#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane {

// Behaviour that breaks the protocol on purpose, so the loader's handling of
// a faulty server can be tested against the real thing. Each switch may be
// limited to one request kind with "@PP_APP" and the like.
class FaultSet {
public:
    // "NAME", "NAME=VALUE", "NAME@REQ" or "NAME=VALUE@REQ"; false with a reason.
    bool add(const std::string& text, std::string& error);

    // Whether the switch is on for a request kind (empty: before any request).
    bool has(const std::string& name, const std::string& request = {}) const;
    // Its value, or `fallback` when given without one.
    std::string value(const std::string& name, const std::string& request, const std::string& fallback) const;
    // Its value as a number; nullopt when the switch is off.
    std::optional<long> number(const std::string& name, const std::string& request = {}) const;
    bool empty() const { return faults_.empty(); }

    // One line per switch, for --help.
    static std::string describe();

private:
    struct Fault {
        std::string name, value, scope;
    };
    const Fault* find(const std::string& name, const std::string& request) const;
    std::vector<Fault> faults_;
};

struct LoadServerOptions {
    enum class Action { serve, showLoads, showOperations, help };
    Action action = Action::serve;
    std::string showPath;  // the record store for the show actions

    std::string listenAddress = "127.0.0.1";
    uint16_t port = 443;  // 0: any free port, printed on the first line
    std::string packageFolder;
    std::string databasePath;
    std::string certificatePath, keyPath;  // both empty: a fresh self-signed pair
    std::string secret;
    std::size_t blockSize = 65536;
    int receiveTimeoutMs = 30000;  // how long a silent client is waited for
    int stallLimitMs = 120000;     // how long a stall fault keeps a connection
    std::string fixedChallenge;    // sent in place of a random challenge
    bool trace = false;
    bool refuseViolations = false;  // answer a request that breaks the wire format with "Status=Error"
    FaultSet faults;
};

// Parses the command line (without the program name); false with a reason.
bool parseLoadServerOptions(const std::vector<std::string>& args, LoadServerOptions& options, std::string& error);

std::string loadServerUsage();

}  // namespace korvane
