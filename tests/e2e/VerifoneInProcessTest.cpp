// Vx805 loads with the core in this process (a scripted operator in place of
// the windows) against the reference server, the pad simulator and the
// ddl.exe stand-in as real processes: both Vx805 buttons share one cache.
#include "platform/InstallationConfig.h"
#include "platform/Tick.h"
#include "server/ChallengeCipher.h"
#include "server/SecurityInterface.h"
#include "tests/e2e/LoadRig.h"
#include "tests/e2e/ScriptedOperator.h"
#include "tests/e2e/VerifoneRig.h"
#include "workflows/LoadStation.h"
#include "workflows/ModelButtons.h"
#include "workflows/ModelSelection.h"
#include "workflows/VerifoneCaches.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace korvane::test {
namespace {

using Texts = std::vector<std::string>;

class VerifoneInProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Before the timing table is first read.
        ::setenv("KORVANE_WAIT_SCALE", "0.001", 1);
        ASSERT_TRUE(SecurityInterface::processWide().Initialise());
        ASSERT_TRUE(ChallengeCipher::processWide().Initialise(kSecret));
    }
    void SetUp() override {
        verifoneCaches() = VerifoneCaches{};
        // The loader's working directory and PATH are this process's own.
        savedDirectory_ = std::filesystem::current_path();
        std::filesystem::current_path(work_.path());
        savedPath_ = std::getenv("PATH");
        ::setenv("PATH", (std::string(KORVANE_DDL_DIR) + ":" + savedPath_).c_str(), 1);
        ::setenv("KORVANE_DDL_RECORD", ddlRecord_.file("runs").c_str(), 1);
        ::setenv("KORVANE_DEVICE_DIR", "/nonexistent", 1);
    }
    void TearDown() override {
        std::filesystem::current_path(savedDirectory_);
        ::setenv("PATH", savedPath_.c_str(), 1);
        ::unsetenv("KORVANE_DDL_RECORD");
    }

    std::optional<std::string> press(LoadRig& rig, ScriptedOperator& op, const std::string& caption,
                                     ConnectionType connection = ConnectionType::serial, const char* port = "1") {
        ::setenv("KORVANE_DEVICE_DIR", rig.devicesDir().c_str(), 1);
        const InstallationConfigResult installation = loadInstallationConfig(rig.configPath());
        EXPECT_TRUE(installation.ok) << installation.error;
        LoadStation station{op, installation.config, {port, connection, false}, cacheStamp_, lastLoadedVariant_,
                            std::nullopt};
        pressModelButton(station, *findModelButtonByCaption(caption));
        return station.reportedOutcome;
    }

    size_t runs() const {
        const std::string root = ddlRecord_.file("runs");
        if (!std::filesystem::exists(root)) return 0;
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(root),
                                                 std::filesystem::directory_iterator()));
    }

    uint32_t cacheStamp_ = tickCount();
    int lastLoadedVariant_ = 0;
    TempDir work_;
    TempDir ddlRecord_;

private:
    std::filesystem::path savedDirectory_;
    std::string savedPath_;
};

TEST_F(VerifoneInProcess, BothVx805ButtonsShareTheBundleFetchedOnce) {
    LoadRig rig(verifonePad("Vx805"));
    ScriptedOperator first, second, third;
    EXPECT_EQ(press(rig, first, "Verifone Vx805 - Load for Ethernet"), "LOADED");
    EXPECT_EQ(press(rig, second, "Verifone Vx805 - Load for Ethernet", ConnectionType::usb), "LOADED");
    // The other button's package is another name on the server, but the
    // cache is the family's: it is not fetched either.
    EXPECT_EQ(press(rig, third, "Verifone Vx805 Qentrall - Load new XPI", ConnectionType::usb), "LOADED");
    for (const ScriptedOperator* op : {&first, &second, &third}) {
        EXPECT_EQ(op->messages(), Texts{"LOADED"});
        EXPECT_EQ(op->downloadStepsWindows, 0);
    }
    EXPECT_EQ(runs(), 3u);
    EXPECT_EQ(verifoneCaches().vx805.version, "0412");
    EXPECT_EQ(rig.requests(),
              (Texts{"PP_LOAD VX805_COMMSERVER -> load 1", "PP_APP VX805_COMMSERVER", "PP_LOAD_STATUS load 1: LOADED",
                     "PP_LOAD VX805_COMMSERVER -> load 2", "PP_LOAD_STATUS load 2: LOADED",
                     "PP_LOAD VX805_ELV_XPI -> load 3", "PP_LOAD_STATUS load 3: LOADED"}));
    EXPECT_EQ(entriesOf(work_.path()), Texts{});
}

TEST_F(VerifoneInProcess, CancelInTheStepsWindowEndsTheLoadWithNothingFetchedOrReported) {
    LoadRig rig(verifonePad("Vx805"));
    std::filesystem::create_symlink(std::filesystem::read_symlink(rig.devicesDir() + "/com1"),
                                    rig.devicesDir() + "/com2");
    ScriptedOperator cancelling;
    EXPECT_EQ(press(rig, cancelling, "Verifone Vx805 - Load for Ethernet", ConnectionType::serial, "2"),
              std::nullopt);
    EXPECT_EQ(cancelling.downloadStepsWindows, 1);
    EXPECT_EQ(cancelling.messages(), Texts{});
    EXPECT_TRUE(verifoneCaches().vx805.image.empty());
    EXPECT_EQ(runs(), 0u);
    EXPECT_EQ(rig.requests(), Texts{});
    EXPECT_EQ(rig.padLog().find("download mode:"), std::string::npos);
}

// The package file is read once: a second P400 load in the process uses what
// was read even when the file has gone meanwhile.
TEST_F(VerifoneInProcess, TheP400PackageIsReadOnce) {
    LoadRig rig(verifonePad("P400"));
    work_.write("KVP400SILENTD41.pkg", rig.sample("p400/KVP400SILENTD41.pkg"));
    ScriptedOperator first, second;
    EXPECT_EQ(press(rig, first, "RQ's"), "LOADED");
    std::filesystem::remove(work_.file("KVP400SILENTD41.pkg"));
    EXPECT_EQ(press(rig, second, "RQ's"), "LOADED");
    EXPECT_EQ(runs(), 4u);
    EXPECT_EQ(verifoneCaches().p400.version, "");
}

}  // namespace
}  // namespace korvane::test
