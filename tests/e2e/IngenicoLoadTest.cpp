#include "tests/e2e/LoadRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace korvane {
namespace {

using test::LoadRig;
using test::PadSetup;

const std::vector<std::string> kSecurityFetches = {"PP_GET_FILE Secbin.pgz", "PP_GET_FILE Secbin_21.pgz",
                                                   "PP_GET_FILE SECBIN_CLEAR.PGZ", "PP_GET_FILE SECBIN_TETRA.PGZ"};

std::vector<std::string> joined(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string context(const test::LoadRun& run) { return "stdout:\n" + run.out + "\nstderr:\n" + run.err; }

TEST(IngenicoLoad, AnIpp350OnSerialGetsApplicationConfigurationFormsAndIsRebooted) {
    LoadRig rig;
    const test::LoadRun run = rig.load("Ingenico iPP350");
    EXPECT_EQ(run.status, 0) << context(run);
    EXPECT_EQ(run.lastLine(), "outcome: LOADED") << context(run);

    EXPECT_EQ(rig.requests(),
              joined({{"PP_LOAD iPP350 -> load 1"},
                      kSecurityFetches,
                      {"PP_APP iPP350_RBA", "PP_APP iPP350_KVS_SERIAL", "PP_LOAD_STATUS load 1: LOADED"}}));
    for (const test::ServedOperation& operation : rig.operations())
        EXPECT_EQ(operation.status, "Success")
            << operation.request << " " << operation.subject << ": " << operation.error;

    const std::string appName = rig.infoFileName("iPP350_RBA");
    const std::string configName = rig.infoFileName("iPP350_KVS_SERIAL");
    ASSERT_TRUE(rig.padHas(appName)) << rig.padLog();
    EXPECT_TRUE(rig.padFile(appName) == rig.sample("apps/iPP350_RBA.bin"));
    ASSERT_TRUE(rig.padHas(configName)) << rig.padLog();
    EXPECT_TRUE(rig.padFile(configName) == rig.sample("configs/iPP350_KVS_SERIAL.bin"));
    ASSERT_TRUE(rig.padHas("Secbin.pgz"));
    EXPECT_TRUE(rig.padFile("Secbin.pgz") == rig.sample("files/Secbin_21.pgz"));
    for (const char* name : {"OFFLINE.K3Z", "CUSTPROMPT.PGZ", "EMVCLESS.XML"}) {
        ASSERT_TRUE(rig.padHas(name)) << name;
        EXPECT_FALSE(rig.padFile(name).empty()) << name;
    }
    const auto parameters = rig.padParameters();
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"7.28", "1"}, {"30.1", "OFFLINE.K3Z"}, {"14.5", "KORVANEIPP350"}, {"7.45", "1"}, {"7.46", "0400"}})
        EXPECT_EQ(parameters.count(key) ? parameters.at(key) : "(not set)", value) << key;

    // The final reboot is the last thing the pad is sent, after the last parameters.
    const std::vector<std::string> messages = rig.padMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "97") << rig.padLog();
    EXPECT_GE(std::count(messages.begin(), messages.end(), "97"), 2) << "the reboot after the worker, and the last";

    const test::Table loads = rig.loads();
    ASSERT_EQ(loads.rows.size(), 1u);
    EXPECT_EQ(loads.at(0, "model"), "iPP350");
    EXPECT_EQ(loads.at(0, "outcome"), "LOADED");
    EXPECT_EQ(loads.at(0, "reported_app_version"), LoadRig::kAppVersion);
}

TEST(IngenicoLoad, APortNumberOutsideOneTo255OrNoneStopsBeforeThePadAndTheServer) {
    LoadRig rig;
    for (const char* port : {"", "0", "256", "x"}) {
        SCOPED_TRACE(std::string("port \"") + port + "\"");
        const test::LoadRun run =
            rig.korvaneLoad({"load", "--model", "Ingenico iPP350", "--port", port, "--connection", "serial"});
        EXPECT_EQ(run.status, 1) << context(run);
        EXPECT_TRUE(run.says("Com Port Out of Range(1-255).\n")) << context(run);
        EXPECT_EQ(run.lastLine(), "outcome: none") << context(run);
    }
    EXPECT_EQ(rig.requests(), std::vector<std::string>{});
    EXPECT_EQ(rig.padMessages(), std::vector<std::string>{});
}

TEST(IngenicoLoad, ALaneNotLoadedAsThisModelIsRefusedBeforeTheServerIsAsked) {
    struct Case {
        const char* held;  // parameter 14.5 of the pad, empty: none
        const char* message;
    } cases[] = {
        {"14.5=KORVANEL3000", "This device has not been previously loaded as a Lane/5000\n"},
        {"14.5=ACMEL5000",
         "This device has not been loaded by a certified Korvane distributor and is ineligible for upgrade.\n"},
        {"", "This device has not been loaded by a certified Korvane distributor and is ineligible for upgrade.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.held);
        PadSetup pad;
        pad.model = "L5000";
        if (*c.held != '\0') pad.params = {c.held};
        LoadRig rig(pad);
        const test::LoadRun run = rig.load("Ingenico Lane/5000");
        EXPECT_EQ(run.status, 1) << context(run);
        EXPECT_TRUE(run.says(c.message)) << context(run);
        EXPECT_EQ(run.lastLine(), "outcome: none") << context(run);
        EXPECT_EQ(rig.requests(), std::vector<std::string>{});
        EXPECT_EQ(rig.padFileNames(), std::vector<std::string>{});
    }
}

TEST(IngenicoLoad, TraceShowsEveryFrameOfALoadOnStandardError) {
    PadSetup pad;
    pad.model = "L5000";
    LoadRig rig(pad);
    const test::LoadRun run = rig.korvaneLoad(
        {"--trace", "load", "--model", "Ingenico Lane/5000", "--port", "1", "--connection", "serial"});
    EXPECT_EQ(run.status, 1) << context(run);
    for (const char* frame : {"-> [SX]07.[EX]", "-> [SX]00.0000[EX]", "-> [SX]61.14[GS]05[EX]", "<- [AK]"})
        EXPECT_NE(run.err.find(frame), std::string::npos) << frame << "\n" << context(run);
    EXPECT_EQ(run.out.find("[SX]"), std::string::npos) << "the trace stays off standard output";
}

TEST(IngenicoLoad, ALaneGetsItsUppApplicationAndTheLaneFormsWithoutAConfigurationBundle) {
    PadSetup pad;
    pad.model = "L5000";
    pad.params = {"14.5=KORVANEL5000"};
    LoadRig rig(pad);
    const test::LoadRun run = rig.load("Ingenico Lane/5000");
    EXPECT_EQ(run.status, 0) << context(run);
    EXPECT_EQ(run.lastLine(), "outcome: LOADED") << context(run);
    EXPECT_EQ(rig.requests(), joined({{"PP_LOAD L5000 -> load 1"},
                                      kSecurityFetches,
                                      {"PP_APP L5000_KVS_UPP", "PP_LOAD_STATUS load 1: LOADED"}}));

    const std::string appName = rig.infoFileName("L5000_KVS_UPP");
    ASSERT_TRUE(rig.padHas(appName)) << rig.padLog();
    EXPECT_TRUE(rig.padFile(appName) == rig.sample("apps/L5000_KVS_UPP.bin"));
    ASSERT_TRUE(rig.padHas("CB5BTSECBIN.PGZ"));
    EXPECT_TRUE(rig.padFile("CB5BTSECBIN.PGZ") == rig.sample("files/SECBIN_TETRA.PGZ"));
    for (const char* name : {"OFFLINE.K3Z", "CB5BTCUSTPROMPT.PGZ", "EMVCLESS.XML"})
        EXPECT_TRUE(rig.padHas(name)) << name;
    for (const char* name : {"Secbin.pgz", "CUSTPROMPT.PGZ"}) EXPECT_FALSE(rig.padHas(name)) << name;
    const auto parameters = rig.padParameters();
    EXPECT_EQ(parameters.count("14.5") ? parameters.at("14.5") : "(not set)", "KORVANEL5000");
    EXPECT_EQ(parameters.count("8.15"), 0u) << "the Lane forms leave out 8.15 and 8.16";
    const std::vector<std::string> messages = rig.padMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "97") << rig.padLog();
}

TEST(IngenicoLoad, AMissingKeyIsReportedAndNothingIsFetched) {
    struct Case {
        std::vector<std::string> simOptions;
        std::string connection;
        std::string text;
        std::string outcome;
    };
    const Case cases[] = {
        {{"--pin-ksn", "none"}, "serial", "No PIN key found.", "FAIL-NO SILVANE PIN-SERIAL"},
        {{"--pan-ksn", "none"}, "usb", "No PAN key found.", "FAIL-NO SILVANE PAN-USB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outcome);
        PadSetup pad;
        pad.extra = c.simOptions;
        LoadRig rig(pad);
        const test::LoadRun run = rig.load("Ingenico iPP350", c.connection);
        EXPECT_EQ(run.status, 1) << context(run);
        EXPECT_TRUE(run.says(c.text + "\n")) << context(run);
        EXPECT_EQ(run.lastLine(), "outcome: " + c.outcome) << context(run);
        EXPECT_EQ(rig.requests(),
                  (std::vector<std::string>{"PP_LOAD iPP350 -> load 1", "PP_LOAD_STATUS load 1: " + c.outcome}));
        EXPECT_EQ(rig.padFileNames(), std::vector<std::string>{});
    }
}

// Which content ends on the pad as "Secbin.pgz": the whitelist box and the
// model decide, and a pad without a security file gets no custom prompts either.
TEST(IngenicoLoad, TheSecurityFileFollowsTheModelAndTheWhitelistBox) {
    struct Case {
        std::string model;
        std::string caption;
        std::vector<std::string> options;
        std::string secbinFrom;  // empty: no "Secbin.pgz", no "CUSTPROMPT.PGZ"
        std::string identifier;
    };
    const Case cases[] = {
        {"iPP350", "Ingenico iPP350", {"--disable-bin-whitelist"}, "files/SECBIN_CLEAR.PGZ", "KORVANEIPP350"},
        {"iUC285", "Ingenico iUC285", {}, "", "KORVANEIUC285"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        PadSetup pad;
        pad.model = c.model;
        LoadRig rig(pad);
        const test::LoadRun run = rig.load(c.caption, "serial", c.options);
        EXPECT_EQ(run.status, 0) << context(run);
        EXPECT_EQ(run.lastLine(), "outcome: LOADED") << context(run);
        EXPECT_TRUE(rig.padHas(rig.infoFileName(c.model + "_RBA")));
        EXPECT_TRUE(rig.padHas("EMVCLESS.XML"));
        if (c.secbinFrom.empty()) {
            EXPECT_FALSE(rig.padHas("Secbin.pgz"));
            EXPECT_FALSE(rig.padHas("CUSTPROMPT.PGZ"));
        } else {
            ASSERT_TRUE(rig.padHas("Secbin.pgz"));
            EXPECT_TRUE(rig.padFile("Secbin.pgz") == rig.sample(c.secbinFrom));
            EXPECT_TRUE(rig.padHas("CUSTPROMPT.PGZ"));
        }
        const auto parameters = rig.padParameters();
        EXPECT_EQ(parameters.count("14.5") ? parameters.at("14.5") : "(not set)", c.identifier);
    }
}

TEST(IngenicoLoad, APadOn230cGetsOnlyTheConfigurationBundle) {
    PadSetup pad;
    pad.appVersion = "230c";
    LoadRig rig(pad);
    const test::LoadRun run = rig.load("Ingenico iPP350");
    EXPECT_EQ(run.status, 0) << context(run);
    EXPECT_EQ(run.lastLine(), "outcome: LOADED") << context(run);
    EXPECT_EQ(rig.requests(), joined({{"PP_LOAD iPP350 -> load 1"},
                                      kSecurityFetches,
                                      {"PP_APP iPP350_KVS_SERIAL", "PP_LOAD_STATUS load 1: LOADED"}}));
    EXPECT_FALSE(rig.padHas(rig.infoFileName("iPP350_RBA")));
    ASSERT_TRUE(rig.padHas(rig.infoFileName("iPP350_KVS_SERIAL")));
    EXPECT_TRUE(rig.padFile(rig.infoFileName("iPP350_KVS_SERIAL")) == rig.sample("configs/iPP350_KVS_SERIAL.bin"));
}

TEST(IngenicoLoad, AServerCertificateOtherThanThePinnedOneStopsTheLoadBeforeAnyRequest) {
    LoadRig rig;
    // The rig's server makes a fresh certificate at start-up: no pin of zeros matches it.
    std::ofstream(rig.configPath(), std::ios::app) << "server-certificate-sha256 = " << std::string(64, '0') << "\n";
    const test::LoadRun run = rig.load("Ingenico iPP350");
    EXPECT_EQ(run.status, 1) << context(run);
    // Both hosts refused it; the message box names both fingerprints.
    EXPECT_TRUE(run.says("Error Returned trying to Retrieve Load Identifier:\nThe load server's certificate does not "
                         "match the installation's pin: expected SHA-256 00:00:"))
        << context(run);
    EXPECT_TRUE(run.says(", received SHA-256 ")) << context(run);
    EXPECT_EQ(run.lastLine(), "outcome: none") << context(run);
    EXPECT_EQ(rig.requests(), std::vector<std::string>{});
}

}  // namespace
}  // namespace korvane
