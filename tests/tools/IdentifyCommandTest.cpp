#include "tests/tools/PadSimHarness.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace korvane {
namespace {

test::ChildProcess::Options inFolder(const test::PadSimProcess& sim) {
    test::ChildProcess::Options options;
    options.env = {{"KORVANE_DEVICE_DIR", sim.devices.path()}, {"KORVANE_WAIT_SCALE", std::nullopt}};
    return options;
}

TEST(IdentifyCommand, PrintsTheFieldsOfThePadAndLeavesItIdle) {
    test::PadSimProcess sim({"--model", "iSC480", "--app-version", "2203", "--rba-version", "RBA22",
                             "--config-version", "CFG9", "--oem-id", "OEM77"});
    ASSERT_TRUE(sim.ready()) << sim.output();
    test::ChildProcess identify(KORVANE_LOAD_PATH, {"--trace", "identify", "--port", "1"}, inFolder(sim));
    ASSERT_EQ(identify.waitForExit(30000), 0) << identify.standardOutput() << identify.standardError();
    EXPECT_EQ(identify.standardOutput(),
              "model:                 iSC480\n"
              "application version:   2203\n"
              "app version:           RBA22\n"
              "config version:        CFG9\n"
              "OEM id:                OEM77\n");
    // --trace shows the frames on standard error.
    EXPECT_NE(identify.standardError().find("-> [SX]07.[EX]"), std::string::npos) << identify.standardError();
    EXPECT_NE(identify.standardError().find("-> [SX]00.0000[EX]"), std::string::npos);
    ASSERT_TRUE(sim.saysSoon("00. reset"));
    EXPECT_LT(sim.output().find("07. identify"), sim.output().find("00. reset"));
}

TEST(IdentifyCommand, FailuresGiveTheTextAndStatusOne) {
    test::PadSimProcess sim({"--fault", "nak=1@07"});
    ASSERT_TRUE(sim.ready()) << sim.output();
    // Port 9 is mapped to nothing, so that no real serial device is touched.
    std::filesystem::create_symlink(sim.devices.file("missing"), sim.devices.file("com9"));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {{"identify", "--port", "1"}, 1, "No Valid Response to '07' Command:\n\n"},
        {{"identify", "--port", "0"}, 1, "Com Port Out of Range(1-255).\n"},
        {{"identify", "--port", "256"}, 1, "Com Port Out of Range(1-255).\n"},
        {{"identify", "--port", "x"}, 1, "Com Port Out of Range(1-255).\n"},
        {{"identify", "--port", "9"}, 1, "Failed on Com Port Access.\n"},
        {{"identify"}, 2, ""},
        {{"identify", "--port", "1", "--model", "x"}, 2, ""},
    };
    for (const Case& c : cases) {
        test::ChildProcess identify(KORVANE_LOAD_PATH, c.args, inFolder(sim));
        EXPECT_EQ(identify.waitForExit(30000), c.status) << c.args.back() << identify.standardError();
        EXPECT_EQ(identify.standardOutput(), c.out) << c.args.back();
    }
}

}  // namespace
}  // namespace korvane
