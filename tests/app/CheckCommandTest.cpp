// `korvane-load check`, and the certificate pin in a fetch, as real processes
// against the reference load server with a certificate made by openssl.
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/tools/LoadServerHarness.h"
#include "tests/tools/PadSimHarness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace korvane {
namespace {

using test::ServerProcess;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun run(const std::string& program, const std::vector<std::string>& args) {
    test::ChildProcess::Options options;
    options.env = {{"KORVANE_LOADER_CONFIG", std::nullopt}, {"KORVANE_WAIT_SCALE", std::nullopt}};
    test::ChildProcess child(program, args, options);
    const int status = child.waitForExit(60000);
    return {status, child.standardOutput(), child.standardError()};
}

std::string onPath(const std::string& name) {
    std::istringstream folders(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (std::filesystem::exists(folder + "/" + name)) return folder + "/" + name;
    return {};
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A key and a self-signed certificate from the openssl program, and the
// fingerprint it prints for that certificate: the one an installer would pin.
class OpensslIdentity {
public:
    OpensslIdentity() {
        openssl_ = onPath("openssl");
        if (openssl_.empty()) return;
        const CliRun made = run(openssl_, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                           "-nodes", "-keyout", key(), "-out", certificate(), "-subj",
                                           "/CN=loadserver.test", "-days", "2"});
        const CliRun shown = run(openssl_, {"x509", "-in", certificate(), "-noout", "-fingerprint", "-sha256"});
        const std::size_t equals = shown.out.find('=');
        if (made.status == 0 && shown.status == 0 && equals != std::string::npos)
            fingerprint_ = shown.out.substr(equals + 1, shown.out.find('\n') - equals - 1);
    }
    bool ready() const { return fingerprint_.size() == 95; }
    std::string key() const { return dir_.file("key.pem"); }
    std::string certificate() const { return dir_.file("cert.pem"); }
    const std::string& fingerprint() const { return fingerprint_; }

private:
    test::TempDir dir_;
    std::string openssl_;
    std::string fingerprint_;
};

std::string configText(uint16_t port, const std::string& secret, const std::string& pin = {}) {
    std::string text = "[load-server]\nprimary-host = 127.0.0.1\nsecondary-host = localhost\nport = " +
                       std::to_string(port) + "\ninstallation-serial = 0100-2200-33\nchallenge-secret = " + secret +
                       "\n";
    if (!pin.empty()) text += "server-certificate-sha256 = " + pin + "\n";
    return text;
}

class CheckCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (!identity.ready()) GTEST_SKIP() << "the openssl program is needed";
        server = std::make_unique<ServerProcess>(
            std::vector<std::string>{"--cert", identity.certificate(), "--key", identity.key()});
        // Every Ingenico load fetches this one, so check fetches it by default.
        server->folder().write("packages/files/Secbin.pgz", "security bin\n");
    }
    CliRun korvaneLoad(const std::vector<std::string>& args) { return run(KORVANE_LOAD_PATH, args); }
    CliRun check(const std::string& configName, const std::vector<std::string>& more = {}) {
        std::vector<std::string> args = {"--config", dir.file(configName), "check"};
        args.insert(args.end(), more.begin(), more.end());
        return korvaneLoad(args);
    }

    OpensslIdentity identity;
    std::unique_ptr<ServerProcess> server;
    test::TempDir dir;
};

TEST_F(CheckCommand, EveryLineIsOkWithTheRightSecretAndTheFingerprintIsTheOneOpensslShows) {
    dir.write("plain.conf", configText(server->port(), test::kSecret));
    dir.write("pinned.conf", configText(server->port(), test::kSecret, identity.fingerprint()));
    for (const char* name : {"plain.conf", "pinned.conf"}) {
        const CliRun result = check(name);
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        const std::vector<std::string> lines = linesOf(result.out);
        ASSERT_GE(lines.size(), 11u) << result.out;
        for (const std::string& line : lines) EXPECT_EQ(line.rfind("OK   ", 0), 0u) << line;
        EXPECT_NE(result.out.find("configuration: " + dir.file(name) + " (given by --config), valid"),
                  std::string::npos)
            << result.out;
        for (const char* host : {"primary-host 127.0.0.1", "secondary-host localhost"}) {
            const std::string prefix = std::string("OK   ") + host + ": ";
            EXPECT_NE(result.out.find(prefix + "TCP connection: 127.0.0.1 port " + std::to_string(server->port())),
                      std::string::npos)
                << result.out;
            EXPECT_NE(result.out.find(prefix + "TLS handshake: TLSv1.2, "), std::string::npos) << result.out;
            EXPECT_NE(result.out.find("certificate SHA-256 " + identity.fingerprint() + "\n"), std::string::npos)
                << result.out;
            EXPECT_NE(result.out.find(prefix + "challenge: the secret is shared; \"Secbin.pgz\" fetched (13 bytes)"),
                      std::string::npos)
                << result.out;
        }
        EXPECT_EQ(result.out.find("certificate pin: matches") != std::string::npos, std::string(name) == "pinned.conf")
            << result.out;
    }
    // Fetched and discarded, once per host and run: no load is registered.
    EXPECT_EQ(server->waitForOperations(4).rows.size(), 4u);
    EXPECT_TRUE(server->show("--show-loads").rows.empty());
}

TEST_F(CheckCommand, AWrongSecretFailsTheChallengeWithTheServersReason) {
    dir.write("loader.conf", configText(server->port(), "K0RVANE7TESTSECRET0123456789ABCDX"));
    const CliRun result = check("loader.conf", {"--probe-file", ServerProcess::kFileName});
    EXPECT_EQ(result.status, 1) << result.out;
    for (const char* host : {"primary-host 127.0.0.1", "secondary-host localhost"}) {
        EXPECT_NE(result.out.find(std::string("OK   ") + host + ": TLS handshake"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(std::string("FAIL ") + host + ": challenge: Challenge Verification Failed. "
                                  "(the server said: Challenge Response Verification Failed)\n"),
                  std::string::npos)
            << result.out;
    }
}

TEST_F(CheckCommand, AnotherCertificateThanThePinnedOneFails) {
    std::string other = identity.fingerprint();
    other[0] = other[0] == 'A' ? 'B' : 'A';
    dir.write("loader.conf", configText(server->port(), test::kSecret, other));
    const CliRun result = check("loader.conf");
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_NE(result.out.find("FAIL primary-host 127.0.0.1: certificate pin: the certificate does not match "
                              "server-certificate-sha256 (pinned SHA-256 " + other + ")"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find(": challenge"), std::string::npos) << "nothing is asked of a refused server";
}

TEST_F(CheckCommand, WithTheServerDownTheConnectionLineFailsWithItsReason) {
    const uint16_t port = server->port();
    ASSERT_EQ(server->stop(), 0);
    dir.write("loader.conf", configText(port, test::kSecret));
    const CliRun result = check("loader.conf");
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_NE(result.out.find("OK   primary-host 127.0.0.1: name lookup"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("FAIL primary-host 127.0.0.1: TCP connection: Socket Error Trying to Connect Error 3006"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find("TLS handshake"), std::string::npos) << result.out;
}

TEST_F(CheckCommand, ConfigurationAndUsageErrorsExitWith2) {
    dir.write("mistyped.conf", configText(server->port(), test::kSecret) + "server-certificate-sha265 = " +
                                   identity.fingerprint() + "\n");
    dir.write("secret.conf", configText(server->port(), test::kSecret), 0000);
    dir.write("loader.conf", configText(server->port(), test::kSecret));
    std::filesystem::create_directory(dir.file("folder.conf"));
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> named;
    } cases[] = {
        {{"--config", dir.file("absent.conf"), "check"}, {"FAIL configuration: ", dir.file("absent.conf")}},
        {{"--config", dir.file("folder.conf"), "check"}, {"FAIL configuration: ", dir.file("folder.conf")}},
        {{"--config", dir.file("mistyped.conf"), "check"},
         {"FAIL configuration: ", dir.file("mistyped.conf"), "\"server-certificate-sha265\""}},
        {{"--config", dir.file("loader.conf"), "check", "--bogus"}, {}},
        {{"--config", dir.file("loader.conf"), "check", "--port"}, {}},
    };
    for (const auto& c : cases) {
        const CliRun result = korvaneLoad(c.args);
        EXPECT_EQ(result.status, 2) << c.args[1] << " " << c.args.back() << result.out;
        for (const std::string& name : c.named) EXPECT_NE(result.out.find(name), std::string::npos) << result.out;
    }
    if (::geteuid() != 0) {  // root reads any file
        const CliRun unreadable = korvaneLoad({"--config", dir.file("secret.conf"), "check"});
        EXPECT_EQ(unreadable.status, 2);
        EXPECT_NE(unreadable.out.find(dir.file("secret.conf")), std::string::npos) << unreadable.out;
    }
}

TEST_F(CheckCommand, AFetchIsHeldToThePinAndARefusedServerIsSentNoRequest) {
    std::string other = identity.fingerprint();
    other[0] = other[0] == 'A' ? 'B' : 'A';
    dir.write("wrong.conf", configText(server->port(), test::kSecret, other));
    dir.write("right.conf", configText(server->port(), test::kSecret, identity.fingerprint()));
    const std::string output = dir.file("fetched.bin");

    const CliRun refused =
        korvaneLoad({"--config", dir.file("wrong.conf"), "fetch-file", ServerProcess::kFileName, "--output", output});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("expected SHA-256 " + other), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("received SHA-256 " + identity.fingerprint()), std::string::npos) << refused.out;
    EXPECT_FALSE(dir.exists("fetched.bin"));

    const CliRun fetched =
        korvaneLoad({"--config", dir.file("right.conf"), "fetch-file", ServerProcess::kFileName, "--output", output});
    EXPECT_EQ(fetched.status, 0) << fetched.out << fetched.err;
    EXPECT_EQ(dir.read("fetched.bin"), ServerProcess::fileBytes());
    // Only the pinned fetch reached the point of a request.
    const test::Table operations = server->waitForOperations(1);
    ASSERT_EQ(operations.rows.size(), 1u);
    EXPECT_EQ(operations.at(0, "closing_text"), "LOAD SUCCESSFUL");
}

TEST_F(CheckCommand, WithAPortThePortIsOpenedAndTheRbaPadIdentified) {
    test::PadSimProcess pad({"--model", "iPP350", "--app-version", "2301"});
    ASSERT_TRUE(pad.ready()) << pad.output();
    dir.write("loader.conf", configText(server->port(), test::kSecret));
    const CliRun found = check("loader.conf", {"--port", "1"});
    EXPECT_EQ(found.status, 0) << found.out << found.err;
    EXPECT_NE(found.out.find("OK   COM port 1: opened at 115200 baud\n"
                             "OK   COM port 1: RBA identification: model iPP350, application 2301"),
              std::string::npos)
        << found.out;
    ASSERT_TRUE(pad.saysSoon("00. reset")) << "the pad is left idle";

    // A number no device answers to.
    std::filesystem::create_symlink(pad.devices.file("unplugged"), pad.devices.file("com9"));
    const CliRun missing = check("loader.conf", {"--port", "9"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("FAIL COM port 9: Failed on Com Port Access. (cannot open " + pad.devices.file("com9") +
                               " -> " + pad.devices.file("unplugged") + ": No such file or directory; remedy: "),
              std::string::npos)
        << missing.out;
}

}  // namespace
}  // namespace korvane
