#include "platform/InstallationConfig.h"

#include <cstdlib>
#include <map>
#include <sstream>

namespace korvane {
namespace {

constexpr const char* kSection = "load-server";
constexpr const char* kKeys[] = {"primary-host", "secondary-host", "port", "installation-serial", "challenge-secret"};
constexpr const char* kOptionalKeys[] = {kCertificatePinKey};
constexpr std::size_t kSha256HexDigits = 64;

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool isKnownKey(const std::string& key) {
    for (const char* known : kKeys)
        if (key == known) return true;
    for (const char* known : kOptionalKeys)
        if (key == known) return true;
    return false;
}

// A fingerprint as `openssl x509 -fingerprint -sha256` prints it, or without
// the colons, in either case; the result is 64 upper-case digits.
bool parseSha256Fingerprint(const std::string& text, std::string& fingerprint) {
    fingerprint.clear();
    for (char c : text) {
        if (c == ':') continue;
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
        fingerprint += c;
    }
    return fingerprint.size() == kSha256HexDigits;
}

std::string keyError(const std::string& path, const std::string& key, const std::string& what) {
    return "Installation configuration " + path + ": key \"" + key + "\" in [" + kSection + "] " + what;
}

bool parsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

bool isValidSecret(const std::string& secret) {
    if (secret.size() != kChallengeSecretLength) return false;
    for (char c : secret)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

// The serial goes into every request as it is written, so it may hold
// nothing the request's items could be confused by.
bool isValidInstallationSerial(const std::string& serial) {
    if (serial.empty() || serial.size() > kInstallationSerialMaxLength) return false;
    for (char c : serial)
        if (!((c >= '0' && c <= '9') || c == '-')) return false;
    return true;
}

}  // namespace

std::string locateInstallationConfig(const std::string& explicitPath) {
    if (!explicitPath.empty()) return explicitPath;
    const char* fromEnv = std::getenv(kInstallationConfigEnv);
    if (fromEnv != nullptr && *fromEnv != '\0') return fromEnv;
    return defaultInstallationConfigPath();
}

InstallationConfigResult parseInstallationConfig(const std::string& text, const std::string& path) {
    InstallationConfigResult result;
    result.path = path;
    std::map<std::string, std::string> values;
    std::string section;
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        const std::string content = trim(line);
        if (content.empty() || content[0] == '#' || content[0] == ';') continue;
        if (content.front() == '[') {
            if (content.back() != ']') {
                result.error = "Installation configuration " + path + ": line " + std::to_string(lineNumber) +
                               " is not a valid section header";
                return result;
            }
            section = trim(content.substr(1, content.size() - 2));
            continue;
        }
        const auto equals = content.find('=');
        if (equals == std::string::npos) {
            result.error = "Installation configuration " + path + ": line " + std::to_string(lineNumber) +
                           " is not of the form key = value";
            return result;
        }
        const std::string key = trim(content.substr(0, equals));
        if (section != kSection || !isKnownKey(key)) {
            result.error = "Installation configuration " + path + ": unknown key \"" + key + "\" " +
                           (section.empty() ? "outside any section" : "in [" + section + "]") + " (line " +
                           std::to_string(lineNumber) + ")";
            return result;
        }
        if (values.count(key) != 0) {
            result.error = keyError(path, key, "is given more than once");
            return result;
        }
        values[key] = trim(content.substr(equals + 1));
    }

    for (const char* key : kKeys) {
        if (values.count(key) == 0) {
            result.error = keyError(path, key, "is missing");
            return result;
        }
    }
    InstallationConfig& config = result.config;
    config.primaryHost = values["primary-host"];
    config.secondaryHost = values["secondary-host"];
    config.installationSerial = values["installation-serial"];
    config.challengeSecret = values["challenge-secret"];
    for (const char* key : {"primary-host", "secondary-host", "installation-serial"}) {
        if (values[key].empty()) {
            result.error = keyError(path, key, "is empty");
            return result;
        }
    }
    if (!parsePort(values["port"], config.port)) {
        result.error = keyError(path, "port", "must be a number from 1 to 65535 (found \"" + values["port"] + "\")");
        return result;
    }
    if (!isValidInstallationSerial(config.installationSerial)) {
        result.error = keyError(path, "installation-serial",
                                "must be digits and dashes, at most " + std::to_string(kInstallationSerialMaxLength) +
                                    " characters");
        return result;
    }
    if (!isValidSecret(config.challengeSecret)) {
        // The secret itself is never echoed: the message may end up on a screen.
        result.error = keyError(path, "challenge-secret",
                                "must be exactly 33 upper-case letters and digits (found " +
                                    std::to_string(config.challengeSecret.size()) + " characters)");
        return result;
    }
    if (values.count(kCertificatePinKey) != 0 &&
        !parseSha256Fingerprint(values[kCertificatePinKey], config.serverCertificateSha256)) {
        result.error = keyError(path, kCertificatePinKey,
                                "must be a SHA-256 fingerprint, 64 hexadecimal digits (colons allowed), found \"" +
                                    values[kCertificatePinKey] + "\"");
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace korvane
