#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

// What an installation fixes: the load server hosts and port, the number of
// this installation and the secret shared with the load server.
struct InstallationConfig {
    std::string primaryHost;
    std::string secondaryHost;
    uint16_t port = 0;
    std::string installationSerial;
    std::string challengeSecret;
    // The load server's certificate pin: the SHA-256 fingerprint of its leaf
    // certificate as 64 upper-case hexadecimal digits; empty when none is set,
    // and then no certificate is checked.
    std::string serverCertificateSha256;
};

struct InstallationConfigResult {
    bool ok = false;
    InstallationConfig config;
    std::string path;                   // the file that was read (or looked for)
    std::string error;                  // names the file and, where one is at fault, the key
    std::vector<std::string> warnings;  // e.g. a secret readable by other users
};

inline constexpr const char* kInstallationConfigEnv = "KORVANE_LOADER_CONFIG";
inline constexpr std::size_t kChallengeSecretLength = 33;
inline constexpr const char* kCertificatePinKey = "server-certificate-sha256";
inline constexpr std::size_t kInstallationSerialMaxLength = 32;

// Where an installation keeps the file: /etc/korvane-field-loader/loader.conf,
// on Windows %ProgramData%\KorvaneFieldLoader\loader.conf.
std::string defaultInstallationConfigPath();
// The same as a help text names it: on Windows with %ProgramData% unexpanded.
std::string defaultInstallationConfigPathForHelp();
// $KORVANE_LOADER_CONFIG as the system's shell spells a variable: %KORVANE_LOADER_CONFIG% on Windows.
std::string installationConfigEnvForHelp();

// The file to read: `explicitPath` (the CLI's --config) when non-empty, else
// $KORVANE_LOADER_CONFIG when set and non-empty, else the system default.
std::string locateInstallationConfig(const std::string& explicitPath = {});

// Parses INI text; `path` only names the file in messages. A key it does not
// know, in any section, is an error: a mistyped optional key would otherwise
// silently do nothing.
InstallationConfigResult parseInstallationConfig(const std::string& text, const std::string& path);

// Reads and parses the file; also warns when group or others may read it.
InstallationConfigResult loadInstallationConfig(const std::string& path);

}  // namespace korvane
