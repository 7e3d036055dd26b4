// Whole loads with the core in this process (a scripted operator in place of
// the windows) against the reference server and the pad simulator as real
// processes. Presses share the process-wide caches, as a day in the field does.
#include "job/CancelRequested.h"
#include "platform/InstallationConfig.h"
#include "platform/MessagePump.h"
#include "server/ChallengeCipher.h"
#include "server/SecurityInterface.h"
#include "tests/e2e/LoadRig.h"
#include "tests/e2e/ScriptedOperator.h"
#include "workflows/IngenicoCaches.h"
#include "workflows/LoadStation.h"
#include "workflows/ModelButtons.h"
#include "workflows/ModelSelection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

namespace korvane::test {
namespace {

using Texts = std::vector<std::string>;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

constexpr char kSerialApplication[] = "PP_APP iPP350_RBA";

class InProcessLoad : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Before the timing table is first read.
        ::setenv("KORVANE_WAIT_SCALE", "0.001", 1);
        ASSERT_TRUE(SecurityInterface::processWide().Initialise());
        ASSERT_TRUE(ChallengeCipher::processWide().Initialise(kSecret));
    }
    void SetUp() override { ingenicoCaches() = IngenicoCaches{}; }

    // One press of `caption` on COM 1; the outcome the server took, if any.
    std::optional<std::string> press(LoadRig& rig, ScriptedOperator& op, const char* caption,
                                     ConnectionType connection = ConnectionType::serial,
                                     bool disableBinWhitelist = false) {
        const InstallationConfigResult installation = loadInstallationConfig(rig.configPath());
        EXPECT_TRUE(installation.ok) << installation.error;
        LoadStation station{op,        installation.config, {"1", connection, disableBinWhitelist},
                            cacheStamp_, lastLoadedVariant_,  std::nullopt};
        const ModelButton* button = findModelButtonByCaption(caption);
        EXPECT_NE(button, nullptr);
        pressModelButton(station, *button);
        return station.reportedOutcome;
    }

    static bool has(const std::vector<std::string>& requests, const std::string& request) {
        return std::find(requests.begin(), requests.end(), request) != requests.end();
    }

    uint32_t cacheStamp_ = 0;
    int lastLoadedVariant_ = 0;
};

TEST_F(InProcessLoad, TheCachesServeTheNextPadAndAPadOnTheCachedVersionGoesStraightToItsForms) {
    // The pad answers again at once after a reboot: a press right after a load finds it awake.
    PadSetup pad;
    pad.extra = {"--reboot-time", "0"};
    {
        LoadRig first(pad);
        ScriptedOperator op;
        EXPECT_EQ(press(first, op, "Ingenico iPP350"), "LOADED");
        const std::vector<std::string> requests = first.requests();
        EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                                [](const std::string& r) { return r.rfind("PP_GET_FILE", 0) == 0; }),
                  4);
        EXPECT_TRUE(has(requests, kSerialApplication));
    }
    LoadRig second(pad);  // a fresh pad on the old version, a server that has seen nothing
    {
        ScriptedOperator op;
        EXPECT_EQ(press(second, op, "Ingenico iPP350"), "LOADED");
        EXPECT_TRUE(op.saw("Connecting to server to retrieve application... "));
        EXPECT_EQ(second.padFile(second.infoFileName("iPP350_RBA")), second.sample(second.sampleFile("iPP350_RBA")));
    }
    {
        // The pad now runs the cached version: no worker, the forms step only.
        ScriptedOperator op;
        EXPECT_EQ(press(second, op, "Ingenico iPP350"), "LOADED");
        EXPECT_FALSE(op.saw("Connecting to server to retrieve application... "));
        EXPECT_TRUE(op.saw("Loading Korvane forms..."));
        EXPECT_EQ(op.messages(), Texts{"LOADED"});
    }
    EXPECT_EQ(second.requests(), (Texts{"PP_LOAD iPP350 -> load 1", "PP_LOAD_STATUS load 1: LOADED",
                                        "PP_LOAD iPP350 -> load 2", "PP_LOAD_STATUS load 2: LOADED"}));
}

TEST_F(InProcessLoad, ImagesFetchedForAnotherModelNeverReachAPad) {
    // The caches fill with the iSC250's images, whose load is then cancelled:
    // the model last loaded is still the iPP350, but its images are gone.
    {
        LoadRig first;
        ScriptedOperator op;
        EXPECT_EQ(press(first, op, "Ingenico iPP350"), "LOADED");
    }
    {
        PadSetup isc250;
        isc250.model = "iSC250";
        LoadRig second(isc250);
        ScriptedOperator op;
        op.cancelOnStatus("Loading ", "block 2 of");
        EXPECT_EQ(press(second, op, "Ingenico iSC250 "), "FAIL-LOAD RBA-SERIAL");
        EXPECT_TRUE(has(second.requests(), "PP_APP iSC250_RBA"));
    }
    LoadRig third;
    ScriptedOperator op;
    EXPECT_EQ(press(third, op, "Ingenico iPP350"), "LOADED");
    const std::vector<std::string> requests = third.requests();
    EXPECT_TRUE(has(requests, kSerialApplication));
    EXPECT_TRUE(has(requests, "PP_APP iPP350_KVS_SERIAL"));
    EXPECT_EQ(third.padFile(third.infoFileName("iPP350_RBA")), third.sample(third.sampleFile("iPP350_RBA")));
    EXPECT_FALSE(third.padHas(third.infoFileName("iSC250_RBA")));
}

struct PciCase {
    const char* name;
    const char* appVersion;
    std::vector<std::string> padExtra;
    std::deque<std::optional<bool>> answers;
    int prompts;
    const char* application;  // the PP_APP asked for
};

void PrintTo(const PciCase& c, std::ostream* os) { *os << c.name; }

class PciVersionQuestion : public InProcessLoad, public ::testing::WithParamInterface<PciCase> {};

TEST_P(PciVersionQuestion, DecidesThePackage) {
    const PciCase& c = GetParam();
    PadSetup pad;
    pad.appVersion = c.appVersion;
    pad.extra = c.padExtra;
    LoadRig rig(pad);
    ScriptedOperator op;
    op.pciAnswers = c.answers;
    EXPECT_EQ(press(rig, op, "Ingenico iPP350"), "LOADED");
    EXPECT_EQ(op.pciPrompts, c.prompts);
    EXPECT_TRUE(has(rig.requests(), std::string("PP_APP ") + c.application));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PciVersionQuestion,
    ::testing::Values(PciCase{"below21AlwaysAsks", "2001", {"--model-suffix", "31"}, {true}, 1, "iPP350V4_RBA"},
                      PciCase{"suffix31IsV4", "2101", {"--model-suffix", "31"}, {}, 0, "iPP350V4_RBA"},
                      PciCase{"noSuffixIsNotV4", "2101", {}, {}, 0, "iPP350_RBA"},
                      PciCase{"failedCheckAsks", "2101", {"--fault", "nak=3@60"}, {false}, 1, "iPP350_RBA"}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST_F(InProcessLoad, CancelOnThePciVersionPromptLoadsNothing) {
    PadSetup pad;
    pad.appVersion = "2001";
    LoadRig rig(pad);
    ScriptedOperator op;
    op.pciAnswers = {std::nullopt};
    EXPECT_EQ(press(rig, op, "Ingenico iPP350"), std::nullopt);
    EXPECT_EQ(op.messages(), Texts{"Could not determine PCI version."});
    EXPECT_TRUE(rig.requests().empty());
}

TEST_F(InProcessLoad, CancelDuringTheServerDownloadIsReportedAndTheNextLoadStartsClean) {
    LoadRig rig;
    ScriptedOperator op;
    op.cancelOnStatus("Connecting to server to retrieve application... ");
    EXPECT_EQ(press(rig, op, "Ingenico iPP350"), "FAIL-DOWNLOAD FILES");
    ASSERT_FALSE(op.messages().empty());
    EXPECT_TRUE(contains(op.messages().front(), "User canceled file download.")) << op.messages().front();
    EXPECT_TRUE(op.saw("Canceling..."));

    ScriptedOperator next;
    EXPECT_EQ(press(rig, next, "Ingenico iPP350"), "LOADED");
}

TEST_F(InProcessLoad, CancelDuringThePadWriteEndsWithTheFileLoadText) {
    LoadRig rig;
    ScriptedOperator op;
    op.cancelOnStatus("Loading ", "block 2 of");
    EXPECT_EQ(press(rig, op, "Ingenico iPP350"), "FAIL-LOAD RBA-SERIAL");
    EXPECT_EQ(op.messages(), Texts{"User canceled file load."});

    ScriptedOperator next;
    EXPECT_EQ(press(rig, next, "Ingenico iPP350"), "LOADED");
}

TEST_F(InProcessLoad, CancelWhileAFormFileIsWrittenIsTakenDuringThatFile) {
    // This thread stands for the user-interface thread: a Cancel click waits
    // in its queue from the file's first block on, and only a wait that runs
    // the window messages can take it.
    LoadRig rig;
    ScriptedOperator op;
    bool clickQueued = false;
    std::string lastStatusWhenTaken;
    op.onStatus("Loading Secbin.pgz block 1 of", "", [&clickQueued] { clickQueued = true; });
    setMessagePumpHook([&] {
        if (!clickQueued) return;
        clickQueued = false;
        lastStatusWhenTaken = op.statuses().back();
        cancelRequested.store(true);
    });
    const std::optional<std::string> outcome = press(rig, op, "Ingenico iPP350");
    setMessagePumpHook(nullptr);

    EXPECT_EQ(outcome, "FAIL");
    EXPECT_EQ(op.messages(), Texts{"Failed.\r\nUser canceled file load."});
    EXPECT_EQ(lastStatusWhenTaken.rfind("Loading Secbin.pgz block 1 of", 0), 0u) << lastStatusWhenTaken;
    const std::vector<std::string> statuses = op.statuses();
    const auto canceling = std::find(statuses.begin(), statuses.end(), "Canceling...");
    ASSERT_NE(canceling, statuses.end());
    // Taken before the second block went out.
    EXPECT_EQ((canceling - 1)->rfind("Loading Secbin.pgz block 1 of", 0), 0u) << *(canceling - 1);
    EXPECT_FALSE(rig.padHas("Secbin.pgz"));
}

TEST_F(InProcessLoad, TheApplicationGetsFourAttempts) {
    struct Case {
        const char* refusals;
        const char* outcome;
    } cases[] = {{"refuse-file=3", "LOADED"}, {"refuse-file=4", "FAIL-LOAD RBA-SERIAL"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusals);
        ingenicoCaches() = IngenicoCaches{};
        PadSetup pad;
        pad.faults = {c.refusals};
        LoadRig rig(pad);
        ScriptedOperator op;
        EXPECT_EQ(press(rig, op, "Ingenico iPP350"), c.outcome);
        if (std::string(c.outcome) != "LOADED") {
            ASSERT_EQ(op.messages().size(), 1u);
            EXPECT_TRUE(contains(op.messages()[0], "Load Command (62.0) Returned Error.")) << op.messages()[0];
            EXPECT_FALSE(rig.padHas(rig.infoFileName("iPP350_RBA")));
        }
    }
}

TEST_F(InProcessLoad, TheServerVanishingInAFetchIsShownAndReported) {
    LoadRig rig({}, {"--block-size", "4096", "--fault", "drop-after-block=2@PP_APP"});
    ScriptedOperator op;
    EXPECT_EQ(press(rig, op, "Ingenico iPP350"), "FAIL-DOWNLOAD FILES");
    ASSERT_EQ(op.messages().size(), 1u);
    EXPECT_EQ(op.messages()[0].rfind("Error Returned trying to Retrieve Remote Application:\r\n", 0), 0u)
        << op.messages()[0];
    EXPECT_TRUE(has(rig.requests(), "PP_LOAD_STATUS load 1: FAIL-DOWNLOAD FILES"));
}

TEST_F(InProcessLoad, APadUnpluggedInTheWriteFailsTheLoadWithoutAHang) {
    LoadRig rig;
    ScriptedOperator op;
    op.onStatus("Loading ", "block 2 of", [&rig] { rig.killPad(); });
    EXPECT_EQ(press(rig, op, "Ingenico iPP350"), "FAIL-LOAD RBA-SERIAL");
    ASSERT_EQ(op.messages().size(), 1u);
    EXPECT_TRUE(contains(op.messages()[0], "Load Command To Device Failed")) << op.messages()[0];
}

TEST_F(InProcessLoad, GarbageForAnIdentificationStopsBeforeTheServer) {
    PadSetup pad;
    pad.faults = {"corrupt-reply=9@07"};
    LoadRig rig(pad);
    ScriptedOperator op;
    EXPECT_EQ(press(rig, op, "Ingenico iPP350"), std::nullopt);
    ASSERT_EQ(op.messages().size(), 1u);
    EXPECT_EQ(op.messages()[0].rfind("No Valid Response to '07' Command:\r\n", 0), 0u) << op.messages()[0];
    EXPECT_TRUE(rig.requests().empty());
}

TEST_F(InProcessLoad, APadLostAfterTheFinalRebootGoesThroughTheComPortPrompt) {
    // "230c" takes only the configuration, so no restart wait needs the pad's
    // "00.0000" answered; from the reboot on, none is.
    PadSetup pad;
    pad.appVersion = "230c";
    pad.faults = {"nak=1000@00"};
    LoadRig rig(pad);
    ScriptedOperator op;
    EXPECT_EQ(press(rig, op, "Ingenico iPP350"), "FAIL-AFTER REBOOT-SERIAL-TIMEDOUT");
    EXPECT_EQ(op.comPortPrompts, 1);
    EXPECT_EQ(op.messages(), Texts{"Could not communicate with device using current port."});
}

TEST_F(InProcessLoad, APadThatNeverAnswersAfterTheInstallIsReportedWithPortNotOpen) {
    PadSetup pad;
    pad.extra = {"--restart-time", "3600000"};
    LoadRig rig(pad);
    ScriptedOperator op;
    EXPECT_EQ(press(rig, op, "Ingenico iPP350", ConnectionType::usb), "FAIL-AFTER REBOOT-USB-PORTNOTOPEN");
    EXPECT_EQ(op.messages(), Texts{"Could not reopen port after restart."});
}

}  // namespace
}  // namespace korvane::test
