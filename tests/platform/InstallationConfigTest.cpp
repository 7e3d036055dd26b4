#include "platform/InstallationConfig.h"
#include "tests/support/TempDir.h"

#include <cctype>
#include <cstdlib>
#include <gtest/gtest.h>

namespace korvane {
namespace {

constexpr char kGoodSecret[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456";

std::string configText(const std::string& port = "443", const std::string& secret = kGoodSecret,
                       const std::string& primary = "loadserver1.example") {
    return "# installed by the field service\n"
           "[load-server]\n"
           "primary-host = " + primary + "\n"
           "secondary-host = loadserver2.example\n"
           "port = " + port + "\n"
           "installation-serial = 0100-2200-33\n"
           "challenge-secret = " + secret + "\n";
}

TEST(InstallationConfig, ReadsEveryKey) {
    const auto result = parseInstallationConfig(configText(), "loader.conf");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.config.primaryHost, "loadserver1.example");
    EXPECT_EQ(result.config.secondaryHost, "loadserver2.example");
    EXPECT_EQ(result.config.port, 443);
    EXPECT_EQ(result.config.installationSerial, "0100-2200-33");
    EXPECT_EQ(result.config.challengeSecret, kGoodSecret);
}

TEST(InstallationConfig, BadValuesNameTheFileAndTheKey) {
    struct Case {
        std::string text;
        std::string key;
    };
    const std::string secret32(32, 'A'), secret34(34, 'A');
    const Case cases[] = {
        {configText("0"), "port"},
        {configText("65536"), "port"},
        {configText("abc"), "port"},
        {configText(""), "port"},
        {configText("443", secret32), "challenge-secret"},
        {configText("443", secret34), "challenge-secret"},
        {configText("443", "abcdefghijklmnopqrstuvwxyz0123456"), "challenge-secret"},
        {configText("443", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345-"), "challenge-secret"},
        {configText("443", kGoodSecret, ""), "primary-host"},
        {"[load-server]\nport = 443\n", "primary-host"},
        {"", "primary-host"},
    };
    for (const Case& c : cases) {
        const auto result = parseInstallationConfig(c.text, "/etc/x/loader.conf");
        EXPECT_FALSE(result.ok) << c.text;
        EXPECT_NE(result.error.find("/etc/x/loader.conf"), std::string::npos) << result.error;
        EXPECT_NE(result.error.find("\"" + c.key + "\""), std::string::npos) << result.error;
        EXPECT_EQ(result.error.find(kGoodSecret), std::string::npos) << "the secret is never echoed";
    }
}

constexpr char kFingerprint[] = "3F1A9C0B7D2E4F6A8B9C0D1E2F3A4B5C6D7E8F90A1B2C3D4E5F60718293A4B5C";

TEST(InstallationConfig, TheCertificatePinIsOptionalAndTakesColonsAndEitherCase) {
    EXPECT_EQ(parseInstallationConfig(configText(), "f").config.serverCertificateSha256, "");
    std::string withColons;
    for (std::size_t i = 0; i < 64; i += 2) withColons += std::string(i == 0 ? "" : ":") + kFingerprint[i] + kFingerprint[i + 1];
    std::string lower = withColons;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& written : {std::string(kFingerprint), withColons, lower}) {
        const auto result = parseInstallationConfig(configText() + "server-certificate-sha256 = " + written + "\n", "f");
        ASSERT_TRUE(result.ok) << written << ": " << result.error;
        EXPECT_EQ(result.config.serverCertificateSha256, kFingerprint) << written;
    }
}

TEST(InstallationConfig, ABadPinOrAnUnknownKeyIsRefusedWithTheFileAndTheKey) {
    struct Case {
        std::string extra;  // appended to a good configuration
        std::string key;
    };
    const std::string pin = "server-certificate-sha256 = ";
    const Case cases[] = {
        {pin + "\n", "server-certificate-sha256"},
        {pin + std::string(kFingerprint).substr(2) + "\n", "server-certificate-sha256"},  // 62 digits
        {pin + kFingerprint + "00\n", "server-certificate-sha256"},                       // 66 digits
        {pin + std::string(kFingerprint).substr(1) + "G\n", "server-certificate-sha256"},
        {pin + "SHA256 Fingerprint=" + kFingerprint + "\n", "server-certificate-sha256"},
        {pin + kFingerprint + "\n" + pin + kFingerprint + "\n", "server-certificate-sha256"},  // twice
        {std::string("server-certificate-sha265 = ") + kFingerprint + "\n", "server-certificate-sha265"},
        {"challenge-secrets = X\n", "challenge-secrets"},
        {"[load-servers]\nport = 443\n", "port"},
    };
    for (const Case& c : cases) {
        const auto result = parseInstallationConfig(configText() + c.extra, "/etc/x/loader.conf");
        EXPECT_FALSE(result.ok) << c.extra;
        EXPECT_NE(result.error.find("/etc/x/loader.conf"), std::string::npos) << result.error;
        EXPECT_NE(result.error.find("\"" + c.key + "\""), std::string::npos) << result.error;
        EXPECT_EQ(result.error.find(kGoodSecret), std::string::npos) << "the secret is never echoed";
    }
    // A key before any section is as unknown as one in a strange section.
    const auto outside = parseInstallationConfig("colour = blue\n" + configText(), "loader.conf");
    EXPECT_FALSE(outside.ok);
    EXPECT_NE(outside.error.find("\"colour\""), std::string::npos) << outside.error;
}

TEST(InstallationConfig, PortBoundsAreAccepted) {
    EXPECT_EQ(parseInstallationConfig(configText("1"), "f").config.port, 1);
    EXPECT_EQ(parseInstallationConfig(configText("65535"), "f").config.port, 65535);
}

TEST(InstallationConfig, TheSerialNumberIsDigitsAndDashesOfASaneLength) {
    // It goes into every request as it is written: nothing else may pass.
    const struct {
        std::string serial;
        bool accepted;
    } cases[] = {
        {"0100-2200-33", true},
        {"7", true},
        {std::string(32, '9'), true},
        {std::string(33, '9'), false},
        {"0100 2200 33", false},
        {"0100-2200-33\x1cREQ=PP_LOAD", false},
        {"0100=2200", false},
        {"ABC-123", false},
    };
    std::string text = configText();
    const std::string written = "installation-serial = 0100-2200-33\n";
    const std::size_t at = text.find(written);
    ASSERT_NE(at, std::string::npos);
    for (const auto& c : cases) {
        std::string withSerial = text;
        withSerial.replace(at, written.size(), "installation-serial = " + c.serial + "\n");
        const auto result = parseInstallationConfig(withSerial, "/etc/x/loader.conf");
        EXPECT_EQ(result.ok, c.accepted) << c.serial;
        if (c.accepted) {
            EXPECT_EQ(result.config.installationSerial, c.serial);
        } else {
            EXPECT_NE(result.error.find("/etc/x/loader.conf"), std::string::npos) << result.error;
            EXPECT_NE(result.error.find("\"installation-serial\""), std::string::npos) << result.error;
        }
    }
}

TEST(InstallationConfig, MissingOrUnreadableFileIsOneClearError) {
    test::TempDir dir;
    for (const std::string& path : {dir.file("absent.conf"), dir.path()}) {
        const auto result = loadInstallationConfig(path);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(path), std::string::npos) << result.error;
    }
}

TEST(InstallationConfig, WarnsWhenOthersMayReadTheSecret) {
    test::TempDir dir;
    dir.write("private.conf", configText(), 0600);
    dir.write("shared.conf", configText(), 0644);
    const auto privateResult = loadInstallationConfig(dir.file("private.conf"));
    ASSERT_TRUE(privateResult.ok) << privateResult.error;
    EXPECT_TRUE(privateResult.warnings.empty());
    const auto sharedResult = loadInstallationConfig(dir.file("shared.conf"));
    ASSERT_TRUE(sharedResult.ok);
    ASSERT_EQ(sharedResult.warnings.size(), 1u);
    EXPECT_NE(sharedResult.warnings[0].find(dir.file("shared.conf")), std::string::npos);
}

TEST(InstallationConfig, LookupPrefersTheOptionThenTheEnvironment) {
    ::setenv("KORVANE_LOADER_CONFIG", "/from/env.conf", 1);
    EXPECT_EQ(locateInstallationConfig("/from/option.conf"), "/from/option.conf");
    EXPECT_EQ(locateInstallationConfig(), "/from/env.conf");
    ::setenv("KORVANE_LOADER_CONFIG", "", 1);
    EXPECT_EQ(locateInstallationConfig(), "/etc/korvane-field-loader/loader.conf");
    ::unsetenv("KORVANE_LOADER_CONFIG");
    EXPECT_EQ(locateInstallationConfig(), "/etc/korvane-field-loader/loader.conf");
}

}  // namespace
}  // namespace korvane
