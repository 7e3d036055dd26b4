#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun runCli(const std::vector<std::string>& args, std::map<std::string, std::optional<std::string>> env = {}) {
    test::ChildProcess::Options options;
    options.env = std::move(env);
    test::ChildProcess child(KORVANE_LOAD_PATH, args, options);
    const int status = child.waitForExit(20000);
    return {status, child.standardOutput(), child.standardError()};
}

TEST(KorvaneLoadShell, VersionHelpAndUsageErrors) {
    const CliRun version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "korvane-load 1.12\n");

    const CliRun help = runCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: korvane-load"), std::string::npos);
    EXPECT_NE(help.out.find("--config FILE"), std::string::npos);

    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"no-such-command"}, {"--bogus"}, {"--config"}}) {
        const CliRun bad = runCli(args);
        EXPECT_EQ(bad.status, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(bad.err.empty());
    }
}

TEST(KorvaneLoadShell, SaysSoFirstWhenWaitsAreScaled) {
    const CliRun scaled = runCli({"--version"}, {{"KORVANE_WAIT_SCALE", "0.01"}});
    EXPECT_EQ(scaled.status, 0);
    EXPECT_EQ(scaled.err.rfind("procedure waits scaled by 0.01", 0), 0u) << scaled.err;
}

}  // namespace
}  // namespace korvane
