#include "tools/load-server/LoadServerOptions.h"

#include "tools/common/CommandArguments.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace korvane {
namespace {

enum class ValueKind { none, optionalText, number, blockAndCount };

struct FaultDefinition {
    const char* name;
    ValueKind value;
    const char* usage;  // how the value is written, for --help
    const char* help;
};

// Names as the client-side tests speak of them.
constexpr FaultDefinition kFaults[] = {
    {"wrong-cr", ValueKind::none, "", "answer the client's challenge wrongly"},
    {"lowercase-cr", ValueKind::none, "", "write the answer \"CR\" in lower-case hexadecimal"},
    {"lowercase-challenge", ValueKind::none, "", "send the challenge in lower-case hexadecimal"},
    {"odd-challenge", ValueKind::none, "", "send a challenge of 7 hexadecimal digits"},
    {"status-error", ValueKind::optionalText, "[=TEXT]", "refuse with \"Status=Error\" and \"Error=TEXT\""},
    {"status-no-error", ValueKind::optionalText, "[=TEXT]",
     "refuse with \"Status=TEXT\" (default Error) and no \"Error\""},
    {"no-load-id", ValueKind::none, "", "leave \"KVRN_DEV_ID\" out of the load response"},
    {"no-md5", ValueKind::none, "", "leave \"MD5Sum\" out of fetch responses"},
    {"no-length", ValueKind::none, "", "leave \"FileLen\" and \"CompressedLen\" out"},
    {"zero-length", ValueKind::none, "", "send only \"CompressedLen=0\""},
    {"compressed-len-only", ValueKind::none, "", "send only \"CompressedLen\", no \"FileLen\""},
    {"no-version", ValueKind::none, "", "leave \"Version\" out of fetch responses"},
    {"zlib", ValueKind::none, "", "announce \"CompressionMethod=Zlib\" (the bytes stay uncompressed)"},
    {"wrong-md5", ValueKind::none, "", "announce a digest that does not match the file"},
    {"lowercase-md5", ValueKind::none, "", "announce the right digest in lower case"},
    {"out-of-sequence", ValueKind::blockAndCount, "=N[:COUNT]",
     "the first COUNT (1) times block N is asked for, send N+1"},
    {"drop-after-block", ValueKind::number, "=N", "close the TCP connection after block N, without close_notify"},
    {"stall-after-block", ValueKind::number, "=N", "send nothing more after block N"},
    {"renegotiate-after-block", ValueKind::number, "=N", "request a TLS renegotiation after block N"},
    {"blocks-past-end", ValueKind::number, "=N",
     "announce one byte less than the file, answer N more blocks of filler past its end, then close"},
    {"stall-handshake", ValueKind::none, "", "accept TCP but never answer the TLS handshake"},
    {"stall-challenge", ValueKind::none, "", "complete the handshake but send no challenge"},
    {"stall-response", ValueKind::none, "", "read the request but send no response"},
    {"close-notify", ValueKind::none, "", "send close_notify instead of the response"},
    {"split-records", ValueKind::optionalText, "[=BYTES]", "after the handshake send in TCP pieces of BYTES (5)"},
    {"many-records", ValueKind::optionalText, "[=BYTES]",
     "write each message as TLS records of BYTES (8), sent at once"},
};

const FaultDefinition* definition(const std::string& name) {
    for (const auto& fault : kFaults)
        if (name == fault.name) return &fault;
    return nullptr;
}

using tools::isDecimalNumber;

bool readSecretFile(const std::string& path, std::string& secret, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read the secret file " + path;
        return false;
    }
    std::getline(in, secret);
    const auto last = secret.find_last_not_of(" \t\r\n");
    secret.erase(last == std::string::npos ? 0 : last + 1);
    const auto first = secret.find_first_not_of(" \t");
    secret.erase(0, first == std::string::npos ? secret.size() : first);
    if (secret.empty()) {
        error = "the secret file " + path + " has an empty first line";
        return false;
    }
    return true;
}

}  // namespace

bool FaultSet::add(const std::string& text, std::string& error) {
    Fault fault;
    std::string rest = text;
    const auto at = rest.find('@');
    if (at != std::string::npos) {
        fault.scope = rest.substr(at + 1);
        rest.erase(at);
        if (fault.scope.rfind("PP_", 0) != 0) {
            error = "fault " + text + ": the scope after \"@\" is a request kind such as PP_APP";
            return false;
        }
    }
    const auto equals = rest.find('=');
    fault.name = rest.substr(0, equals);
    if (equals != std::string::npos) fault.value = rest.substr(equals + 1);
    const FaultDefinition* known = definition(fault.name);
    if (known == nullptr) {
        error = "unknown fault \"" + fault.name + "\" (see --help)";
        return false;
    }
    const bool hasValue = equals != std::string::npos;
    bool valid = true;
    switch (known->value) {
    case ValueKind::none: valid = !hasValue; break;
    case ValueKind::optionalText: break;
    case ValueKind::number: valid = hasValue && isDecimalNumber(fault.value); break;
    case ValueKind::blockAndCount: {
        const auto colon = fault.value.find(':');
        valid = hasValue && isDecimalNumber(fault.value.substr(0, colon)) &&
                (colon == std::string::npos || isDecimalNumber(fault.value.substr(colon + 1)));
        break;
    }
    }
    if ((fault.name == "split-records" || fault.name == "many-records") && hasValue)
        valid = isDecimalNumber(fault.value) && std::atol(fault.value.c_str()) > 0;
    if (!valid) {
        error = "fault " + text + ": " + (known->value == ValueKind::none ? "takes no value" : "bad value");
        return false;
    }
    faults_.push_back(fault);
    return true;
}

const FaultSet::Fault* FaultSet::find(const std::string& name, const std::string& request) const {
    for (const Fault& fault : faults_)
        if (fault.name == name && (fault.scope.empty() || fault.scope == request)) return &fault;
    return nullptr;
}

bool FaultSet::has(const std::string& name, const std::string& request) const { return find(name, request) != nullptr; }

std::string FaultSet::value(const std::string& name, const std::string& request, const std::string& fallback) const {
    const Fault* fault = find(name, request);
    return fault == nullptr || fault->value.empty() ? fallback : fault->value;
}

std::optional<long> FaultSet::number(const std::string& name, const std::string& request) const {
    const Fault* fault = find(name, request);
    if (fault == nullptr) return std::nullopt;
    return std::atol(fault->value.c_str());
}

std::string FaultSet::describe() {
    std::string text;
    for (const auto& fault : kFaults) {
        const std::string name = std::string(fault.name) + fault.usage;
        text += "  " + name + std::string(name.size() < 34 ? 34 - name.size() : 1, ' ') + fault.help + "\n";
    }
    return text;
}

bool parseLoadServerOptions(const std::vector<std::string>& args, LoadServerOptions& options, std::string& error) {
    std::string secretFile;
    bool secretGiven = false;
    tools::CommandArguments reader(args, error);
    while (reader.next()) {
        const std::string& arg = reader.current();
        auto value = [&](std::string& into) { return reader.value(into); };
        auto number = [&](long low, long high, long& into) { return reader.number(low, high, into); };
        long n = 0;
        std::string text;
        if (arg == "--help" || arg == "-h") options.action = LoadServerOptions::Action::help;
        else if (arg == "--show-loads" || arg == "--show-operations") {
            if (!value(options.showPath)) return false;
            options.action = arg == "--show-loads" ? LoadServerOptions::Action::showLoads
                                                   : LoadServerOptions::Action::showOperations;
        } else if (arg == "--listen") {
            if (!value(options.listenAddress)) return false;
        } else if (arg == "--port") {
            if (!number(0, 65535, n)) return false;
            options.port = static_cast<uint16_t>(n);
        } else if (arg == "--packages") {
            if (!value(options.packageFolder)) return false;
        } else if (arg == "--database") {
            if (!value(options.databasePath)) return false;
        } else if (arg == "--cert") {
            if (!value(options.certificatePath)) return false;
        } else if (arg == "--key") {
            if (!value(options.keyPath)) return false;
        } else if (arg == "--secret") {
            if (!value(options.secret)) return false;
            secretGiven = true;
        } else if (arg == "--secret-file") {
            if (!value(secretFile)) return false;
        } else if (arg == "--block-size") {
            // The loader refuses any message over 64 MiB, headers included.
            if (!number(1, 32L * 1024 * 1024, n)) return false;
            options.blockSize = static_cast<std::size_t>(n);
        } else if (arg == "--receive-timeout") {
            if (!number(1, 3600000, n)) return false;
            options.receiveTimeoutMs = static_cast<int>(n);
        } else if (arg == "--stall-limit") {
            if (!number(0, 3600000, n)) return false;
            options.stallLimitMs = static_cast<int>(n);
        } else if (arg == "--challenge") {
            if (!value(options.fixedChallenge)) return false;
            if (options.fixedChallenge.empty() || options.fixedChallenge.size() > 1024) {
                error = "--challenge takes 1 to 1024 characters";
                return false;
            }
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--refuse-violations") {
            options.refuseViolations = true;
        } else if (arg == "--fault") {
            if (!value(text) || !options.faults.add(text, error)) return false;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (options.action != LoadServerOptions::Action::serve) return true;
    if (secretGiven && !secretFile.empty()) {
        error = "give --secret or --secret-file, not both";
        return false;
    }
    if (!secretFile.empty() && !readSecretFile(secretFile, options.secret, error)) return false;
    if (options.secret.empty()) {
        error = "the shared challenge secret is missing (--secret or --secret-file)";
        return false;
    }
    if (options.packageFolder.empty() || options.databasePath.empty()) {
        error = "--packages and --database are required";
        return false;
    }
    if (options.certificatePath.empty() != options.keyPath.empty()) {
        error = "--cert and --key go together";
        return false;
    }
    return true;
}

std::string loadServerUsage() {
    return "usage: korvane-load-server --packages DIR --database FILE (--secret TEXT | --secret-file FILE)\n"
           "                           [--listen ADDRESS] [--port N] [--cert FILE --key FILE]\n"
           "                           [--block-size BYTES] [--receive-timeout MS] [--stall-limit MS]\n"
           "                           [--challenge TEXT] [--trace] [--refuse-violations]\n"
           "                           [--fault NAME[=VALUE][@REQ]]...\n"
           "       korvane-load-server --show-loads FILE | --show-operations FILE\n"
           "\n"
           "  --listen ADDRESS        address to listen on (127.0.0.1)\n"
           "  --port N                TCP port (443); 0 picks a free one\n"
           "  --packages DIR          package folder (packages.ini and files/)\n"
           "  --database FILE         SQLite record of loads, outcomes and operations (created if missing)\n"
           "  --cert FILE --key FILE  PEM certificate and key; without them a fresh self-signed pair\n"
           "  --secret TEXT           the shared challenge secret (33 upper-case letters and digits)\n"
           "  --secret-file FILE      the secret on the file's first line\n"
           "  --block-size BYTES      bytes per download block (65536)\n"
           "  --receive-timeout MS    how long a silent client is waited for (30000)\n"
           "  --stall-limit MS        how long a stall fault holds a connection (120000)\n"
           "  --challenge TEXT        send TEXT as every challenge instead of 32 random digits\n"
           "  --trace                 every message received and sent, and every violation, on standard error\n"
           "  --refuse-violations     answer a request that breaks the wire format with \"Status=Error\"\n"
           "  --show-loads FILE       print the loads with their last outcome, tab-separated\n"
           "  --show-operations FILE  print every operation served, tab-separated\n"
           "\n"
           "The first line on standard output is \"listening on ADDRESS:PORT\". SIGTERM or SIGINT ends the\n"
           "server after the connections in progress have been closed.\n"
           "\n"
           "Every byte a client sends is checked against the wire format; each deviation is served anyway and\n"
           "listed in the \"violations\" column of --show-operations.\n"
           "\n"
           "Fault switches (--fault, repeatable; \"@PP_APP\" and the like limit one to a request kind):\n" +
           FaultSet::describe();
}

}  // namespace korvane
