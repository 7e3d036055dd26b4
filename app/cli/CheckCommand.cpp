#include "app/cli/CheckCommand.h"

#include "app/cli/ConsoleOperator.h"
#include "app/cli/ServerOnlyClient.h"
#include "job/DecimalValue.h"
#include "job/LoadJob.h"
#include "pad/RbaPad.h"
#include "pad/SerialPort.h"
#include "platform/DeviceAccess.h"
#include "platform/InstallationConfig.h"
#include "server/CertificatePin.h"
#include "server/ChallengeCipher.h"
#include "server/SecurityInterface.h"
#include "workflows/PortCheck.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace korvane {
namespace {

constexpr const char* kUsage = "check [--port N] [--probe-file NAME]";
// Every Ingenico load fetches it, so every load server has it.
constexpr const char* kDefaultProbeFile = "Secbin.pgz";

int usageError(const std::string& text) {
    std::fprintf(stderr, "korvane-load check: %s\nUsage: korvane-load %s\n", text.c_str(), kUsage);
    return kExitUsage;
}

// The lines printed so far, and whether all of them were OK.
class Report {
public:
    bool line(bool ok, const std::string& what, const std::string& detail) {
        std::string text = ConsoleOperator::normaliseLineEnds(detail);
        // One line each: a text of several lines is joined.
        for (char& c : text)
            if (c == '\n') c = ' ';
        std::printf("%-4s %s: %s\n", ok ? "OK" : "FAIL", what.c_str(), text.c_str());
        std::fflush(stdout);
        allOk_ = allOk_ && ok;
        return ok;
    }
    bool allOk() const { return allOk_; }

private:
    bool allOk_ = true;
};

std::string whereFound(const std::string& explicitPath) {
    if (!explicitPath.empty()) return "given by --config";
    const char* fromEnv = std::getenv(kInstallationConfigEnv);
    if (fromEnv != nullptr && *fromEnv != '\0') return std::string("given by $") + kInstallationConfigEnv;
    return "the default location";
}

std::string modeText(std::filesystem::perms perms) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(perms) & 07777u);
    return text;
}

void checkPermissions(Report& report, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::perms perms = fs::status(path, error).permissions();
    if (error) {
        report.line(false, "configuration permissions", error.message());
        return;
    }
    const fs::perms others = fs::perms::group_all | fs::perms::others_all;
    if ((perms & others) != fs::perms::none) {
        report.line(false, "configuration permissions",
                    "mode " + modeText(perms) + ": other users may read the challenge secret; chmod 600 " + path);
        return;
    }
    report.line(true, "configuration permissions", "mode " + modeText(perms) + ", its owner's only");
}

// What the server said about the request, when it refused it.
std::string serverReason(const ServerOnlyClient& client) {
    LoadServerResponse response;
    if (!response.parseHeaders(client.receiveBuffer())) return {};
    response.parseItems();
    if (response.status.empty() || response.status == "Success") return {};
    return response.errorText.empty() ? "Status=" + response.status : response.errorText;
}

// One host: each step needs the one before, so the first failure ends its lines.
void checkHost(Report& report, const std::string& label, const std::string& host,
               const InstallationConfig& installation, const std::string& probeFile) {
    const std::string what = label + " " + host;
    std::string address, error;
    const bool found = TcpSocket::LookUp(host, address, error);
    if (!report.line(found, what + ": name lookup", found ? host + " is " + address : error)) return;

    TcpSocket socket;
    const bool connected = socket.Connect(host, installation.port, LoadServerClient::kConnectTimeoutMs);
    socket.Close();
    if (!report.line(connected, what + ": TCP connection",
                     connected ? address + " port " + std::to_string(installation.port) : socket.LastErrorText()))
        return;

    // Unpinned, to show the certificate whatever it is; the pin is judged next.
    SecureChannel channel;
    if (!channel.Open(host, installation.port, LoadServerClient::kConnectTimeoutMs)) {
        report.line(false, what + ": TLS handshake", channel.LastErrorText());
        return;
    }
    const std::string fingerprint = channel.serverCertificateSha256();
    report.line(true, what + ": TLS handshake",
                channel.protocolVersion() + ", " + channel.cipherName() + ", certificate SHA-256 " + fingerprint);
    channel.Disconnect();
    if (!installation.serverCertificateSha256.empty()) {
        const std::string pinned = colonSeparatedFingerprint(installation.serverCertificateSha256);
        if (!report.line(fingerprint == pinned, what + ": certificate pin",
                         fingerprint == pinned ? "matches " + std::string(kCertificatePinKey)
                                               : "the certificate does not match " + std::string(kCertificatePinKey) +
                                                     " (pinned SHA-256 " + pinned + ")"))
            return;
    }

    InstallationConfig oneHost = installation;
    oneHost.primaryHost = host;
    oneHost.secondaryHost = host;
    ByteArray file;
    LoadJob job;
    job.downloadTarget = &file;
    ServerOnlyClient client(oneHost, &job);
    if (client.FetchFile(probeFile)) {
        report.line(true, what + ": challenge",
                    "the secret is shared; \"" + probeFile + "\" fetched (" + std::to_string(file.size()) +
                        " bytes) and discarded");
        return;
    }
    std::string reason = client.LastErrorText();
    const std::string said = serverReason(client);
    if (!said.empty() && said != reason) reason += " (the server said: " + said + ")";
    report.line(false, what + ": challenge", reason);
}

void checkPort(Report& report, const std::string& portText) {
    const std::string what = "COM port " + portText;
    SerialPort port;
    std::string error;
    if (!checkAndOpenPort(port, decimalValue(portText), kPadBaudRate, error)) {
        std::string reason = error;
        if (const std::optional<DeviceAccessProblem> problem = takeDeviceOpenFailure()) {
            std::string detail = deviceAccessProblemText(*problem);
            for (std::size_t at = detail.find('\n'); at != std::string::npos; at = detail.find('\n', at))
                detail.replace(at, 1, "; ");
            reason += " (" + detail + ")";
        }
        report.line(false, what, reason);
        return;
    }
    report.line(true, what, "opened at " + std::to_string(kPadBaudRate) + " baud");
    DeviceInfo device;
    if (!RbaPad::identify(port, device, error)) {
        report.line(false, what + ": RBA identification",
                    error + " (an Equinox or Verifone pad does not answer it)");
        return;
    }
    RbaPad::sendReset(port);
    port.close();
    report.line(true, what + ": RBA identification",
                "model " + device.padModel + ", application " + device.padAppVersion + ", OEM " + device.oemId);
}

int runCheck(const CommonOptions& common, const std::vector<std::string>& args) {
    std::string portText, probeFile = kDefaultProbeFile;
    bool portGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& argument = args[i];
        const bool hasValue = i + 1 < args.size();
        if (argument == "--port" || argument == "--probe-file") {
            if (!hasValue) return usageError(argument + " needs a value");
            (argument == "--port" ? portText : probeFile) = args[++i];
            portGiven = portGiven || argument == "--port";
        } else if (argument.rfind("--port=", 0) == 0) {
            portText = argument.substr(7);
            portGiven = true;
        } else if (argument.rfind("--probe-file=", 0) == 0) {
            probeFile = argument.substr(13);
        } else {
            return usageError("unexpected argument \"" + argument + "\"");
        }
    }
    if (probeFile.empty()) return usageError("--probe-file needs a file name");

    Report report;
    const std::string path = locateInstallationConfig(common.configPath);
    const InstallationConfigResult installation = loadInstallationConfig(path);
    if (!installation.ok) {
        report.line(false, "configuration", installation.error);
        return kExitUsage;
    }
    const InstallationConfig& config = installation.config;
    report.line(true, "configuration",
                path + " (" + whereFound(common.configPath) + "), valid; load server " + config.primaryHost + ", " +
                    config.secondaryHost + " port " + std::to_string(config.port) +
                    (config.serverCertificateSha256.empty() ? ", no certificate pin" : ", certificate pinned"));
    checkPermissions(report, path);

    const bool servicesStarted =
        SecurityInterface::processWide().Initialise() && ChallengeCipher::processWide().Initialise(config.challengeSecret);
    if (report.line(servicesStarted, "security services",
                    servicesStarted ? "TLS and the challenge cipher started"
                                    : "Could Not Start SSPI or Initialize Crypto (OpenSSL's TLS or RC4 is missing)")) {
        checkHost(report, "primary-host", config.primaryHost, config, probeFile);
        checkHost(report, "secondary-host", config.secondaryHost, config, probeFile);
    }
    if (portGiven) checkPort(report, portText);
    return report.allOk() ? kExitSuccess : kExitFailure;
}

}  // namespace

Subcommand checkSubcommand() {
    return {"check", kUsage, "field diagnosis: configuration, each load server host, the COM port", &runCheck};
}

}  // namespace korvane
