// Equinox loads with the core in this process (a scripted operator in place
// of the windows) against the reference server and the pad simulator as real
// processes: presses share the process-wide caches, as a day in the field does.
#include "platform/InstallationConfig.h"
#include "platform/Tick.h"
#include "server/ChallengeCipher.h"
#include "server/SecurityInterface.h"
#include "tests/e2e/EquinoxPackages.h"
#include "tests/e2e/LoadRig.h"
#include "tests/e2e/ScriptedOperator.h"
#include "workflows/EquinoxCaches.h"
#include "workflows/LoadStation.h"
#include "workflows/ModelButtons.h"
#include "workflows/ModelSelection.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace korvane::test {
namespace {

using Texts = std::vector<std::string>;

class EquinoxInProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Before the timing table is first read.
        ::setenv("KORVANE_WAIT_SCALE", "0.001", 1);
        ASSERT_TRUE(SecurityInterface::processWide().Initialise());
        ASSERT_TRUE(ChallengeCipher::processWide().Initialise(kSecret));
    }
    void SetUp() override { equinoxCaches() = EquinoxCaches{}; }

    static PadSetup l5300(const std::string& pci) {
        PadSetup pad;
        pad.model = "L5300-" + pci;
        pad.appVersion = "0012";
        pad.extra = {"--restart-time", "0"};
        return pad;
    }

    std::optional<std::string> press(LoadRig& rig, ScriptedOperator& op) {
        const InstallationConfigResult installation = loadInstallationConfig(rig.configPath());
        EXPECT_TRUE(installation.ok) << installation.error;
        LoadStation station{op, installation.config, {"1", ConnectionType::serial, false}, cacheStamp_,
                            lastLoadedVariant_, std::nullopt};
        pressModelButton(station, *findModelButtonByCaption("Equinox L5300 - Load FPE and Forms"));
        return station.reportedOutcome;
    }

    uint32_t cacheStamp_ = tickCount();
    int lastLoadedVariant_ = 0;
};

TEST_F(EquinoxInProcess, ASecondPci2LoadFetchesNothingAndAPci3PadFetchesItsOwnBundles) {
    const std::vector<EquinoxBundle> bundles = equinoxSampleBundles();
    {
        LoadRig rig(l5300("PCI2"));
        writeEquinoxPackages(rig.packagesDir(), bundles);
        for (int press_ = 0; press_ < 2; ++press_) {
            ScriptedOperator op;
            EXPECT_EQ(press(rig, op), "LOADED") << press_;
            EXPECT_EQ(op.messages(), Texts{"LOADED"}) << press_;
        }
        EXPECT_EQ(rig.requests(),
                  (Texts{"PP_LOAD EQ_L5300_PCI2_SILVE2E -> load 1", "PP_APP EQ_L5XXX_FPE_PCI2",
                         "PP_APP EQ_L5300_PCI2_SILVE2E", "PP_LOAD_STATUS load 1: LOADED",
                         "PP_LOAD EQ_L5300_PCI2_SILVE2E -> load 2", "PP_LOAD_STATUS load 2: LOADED"}));
        // Both loads wrote both bundles: the cached FPE is loaded again, not only fetched once.
        EXPECT_EQ(rig.padLog().find("violation:"), std::string::npos);
    }
    {
        LoadRig rig(l5300("PCI3"));
        writeEquinoxPackages(rig.packagesDir(), bundles);
        ScriptedOperator op;
        EXPECT_EQ(press(rig, op), "LOADED");
        EXPECT_EQ(rig.requests(), (Texts{"PP_LOAD EQ_L5300_PCI3_SILVE2E -> load 1", "PP_APP EQ_L5XXX_FPE_PCI3",
                                         "PP_APP EQ_L5300_PCI3_SILVE2E", "PP_LOAD_STATUS load 1: LOADED"}));
        EXPECT_EQ(rig.loads().at(0, "model"), "EQ_L5300_PCI3_SILVE2E");
        EXPECT_EQ(rig.loads().at(0, "reported_config_version"), "FORMSPCI3-3");
    }
    EXPECT_EQ(equinoxCaches().pci2.fpe.version, "FPEPCI2-7");
    EXPECT_EQ(equinoxCaches().pci3.config.version, "FORMSPCI3-3");
}

TEST_F(EquinoxInProcess, TwelveHoursLaterTheConfigurationIsFetchedAgainButNotTheFpe) {
    LoadRig rig(l5300("PCI2"));
    writeEquinoxPackages(rig.packagesDir(), equinoxSampleBundles());
    ScriptedOperator first;
    EXPECT_EQ(press(rig, first), "LOADED");
    cacheStamp_ = tickCount() - EquinoxCaches::kLifetimeMs - 1000;
    ScriptedOperator second;
    EXPECT_EQ(press(rig, second), "LOADED");
    EXPECT_EQ(rig.requests(),
              (Texts{"PP_LOAD EQ_L5300_PCI2_SILVE2E -> load 1", "PP_APP EQ_L5XXX_FPE_PCI2",
                     "PP_APP EQ_L5300_PCI2_SILVE2E", "PP_LOAD_STATUS load 1: LOADED",
                     "PP_LOAD EQ_L5300_PCI2_SILVE2E -> load 2", "PP_APP EQ_L5300_PCI2_SILVE2E",
                     "PP_LOAD_STATUS load 2: LOADED"}));
}

TEST_F(EquinoxInProcess, AFailedFetchLeavesNothingInTheCache) {
    LoadRig rig(l5300("PCI2"));
    std::vector<EquinoxBundle> bundles = equinoxSampleBundles();
    bundles.erase(bundles.begin() + 1);  // no PCI2 configuration on the server
    writeEquinoxPackages(rig.packagesDir(), bundles);
    ScriptedOperator op;
    EXPECT_EQ(press(rig, op), "FAIL-DOWNLOAD FILES");
    const Texts messages = op.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind("Error Returned trying to Retrieve Remote Configuration:\r\n", 0), 0u) << messages[0];
    EXPECT_EQ(messages[1], "FAIL-DOWNLOAD FILES");
    EXPECT_TRUE(equinoxCaches().pci2.config.image.empty());
    EXPECT_FALSE(equinoxCaches().pci2.fpe.image.empty()) << "the FPE came whole and stays";
}

}  // namespace
}  // namespace korvane::test
