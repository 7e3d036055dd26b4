// `korvane-load fetch-file` as a real process against the reference load server.
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/tools/LoadServerHarness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

using test::ServerProcess;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun runCli(const std::vector<std::string>& args) {
    test::ChildProcess::Options options;
    options.env = {{"KORVANE_LOADER_CONFIG", std::nullopt}, {"KORVANE_WAIT_SCALE", std::nullopt}};
    test::ChildProcess child(KORVANE_LOAD_PATH, args, options);
    const int status = child.waitForExit(60000);
    return {status, child.standardOutput(), child.standardError()};
}

std::string configText(uint16_t port, const std::string& secret, const std::string& leaveOut = {}) {
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"primary-host", "127.0.0.1"},        {"secondary-host", "127.0.0.1"}, {"port", std::to_string(port)},
        {"installation-serial", "0100-2200-33"}, {"challenge-secret", secret}};
    std::string text = "[load-server]\n";
    for (const auto& [key, value] : keys)
        if (key != leaveOut) text += key + " = " + value + "\n";
    return text;
}

class FetchFileCommand : public ::testing::Test {
protected:
    ServerProcess server;
    test::TempDir dir;
    std::string config = dir.file("loader.conf");
    std::string output = dir.file("fetched.bin");

    void SetUp() override { dir.write("loader.conf", configText(server.port(), test::kSecret)); }
    CliRun fetch(const std::string& name) {
        return runCli({"--config", config, "fetch-file", name, "--output", output});
    }
};

TEST_F(FetchFileCommand, WritesTheFileAndPrintsItsVersionSizeAndMd5) {
    const CliRun run = fetch(ServerProcess::kFileName);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "Version: 7\nSize: 10000 bytes\nMD5: " + test::md5Hex(ServerProcess::fileBytes()) +
                           "\nWritten to " + output + "\n");
    EXPECT_EQ(dir.read("fetched.bin"), ServerProcess::fileBytes());
    // The progress texts go to standard error as they change.
    EXPECT_NE(run.err.find("Downloading block 1\n"), std::string::npos) << run.err;
    EXPECT_EQ(server.waitForOperations(1).at(0, "closing_text"), "LOAD SUCCESSFUL");
}

TEST_F(FetchFileCommand, AFailedFetchExitsWith1AndItsTextAndKeepsTheOldFile) {
    dir.write("fetched.bin", "old");
    const CliRun missing = fetch("NOPE.K3Z");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "File Not Found: NOPE.K3Z\n");
    EXPECT_EQ(dir.read("fetched.bin"), "old");

    dir.write("loader.conf", configText(server.port(), "K0RVANE7TESTSECRET0123456789ABCDX"));
    const CliRun wrongSecret = fetch(ServerProcess::kFileName);
    EXPECT_EQ(wrongSecret.status, 1);
    EXPECT_EQ(wrongSecret.out, "Challenge Verification Failed.\n");
    EXPECT_EQ(dir.read("fetched.bin"), "old");
}

TEST_F(FetchFileCommand, ConfigurationAndUsageErrorsExitWith2) {
    dir.write("no-serial.conf", configText(server.port(), test::kSecret, "installation-serial"));
    dir.write("short-secret.conf", configText(server.port(), "SHORT"));
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> named;  // what the message must name
    } cases[] = {
        {{"--config", dir.file("absent.conf"), "fetch-file", "X", "--output", output}, {dir.file("absent.conf")}},
        {{"--config", dir.file("no-serial.conf"), "fetch-file", "X", "--output", output},
         {dir.file("no-serial.conf"), "installation-serial"}},
        {{"--config", dir.file("short-secret.conf"), "fetch-file", "X", "--output", output},
         {dir.file("short-secret.conf"), "challenge-secret"}},
        {{"--config", config, "fetch-file", "--output", output}, {"NAME"}},
        {{"--config", config, "fetch-file", "X"}, {"--output"}},
        {{"--config", config, "fetch-file", "X", "Y", "--output", output}, {"\"Y\""}},
        {{"--config", config, "fetch-file", "X", "--output"}, {"--output"}},
    };
    for (const auto& c : cases) {
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.status, 2) << c.args[1] << " " << c.args.back();
        for (const std::string& name : c.named) EXPECT_NE(run.err.find(name), std::string::npos) << run.err;
    }
    EXPECT_FALSE(dir.exists("fetched.bin"));
}

}  // namespace
}  // namespace korvane
