#include "platform/InstanceLock.h"
#include "platform/Version.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {
namespace {

constexpr char kConfig[] =
    "[load-server]\nprimary-host = 127.0.0.1\nsecondary-host = 127.0.0.1\nport = 4443\n"
    "installation-serial = 0100-2200-33\nchallenge-secret = ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456\n";
constexpr char kSecondInstance[] = "Only one instance of Stellic may be run at a time!";
constexpr char kSettingsName[] = "KorvaneFieldLoaderCfg112.dat";

// Runs the desktop program in `work` with its own lock folder, no one to press OK.
class FieldLoaderProcessTest : public ::testing::Test {
protected:
    void SetUp() override { config_.write("loader.conf", kConfig, 0600); }

    test::ChildProcess::Options options(bool withDisplay = true) const {
        test::ChildProcess::Options o;
        o.workingDirectory = work_.path();
        o.env["XDG_RUNTIME_DIR"] = runtime_.path();
        o.env["KORVANE_LOADER_CONFIG"] = config_.file("loader.conf");
        o.env["KORVANE_UNATTENDED"] = "1";
        o.env["KORVANE_WAIT_SCALE"] = std::nullopt;
        if (withDisplay) {
            o.env["QT_QPA_PLATFORM"] = "offscreen";
        } else {
            // Without any display a Qt start would fail: proves "-i" never starts Qt.
            o.env["QT_QPA_PLATFORM"] = std::nullopt;
            o.env["DISPLAY"] = std::nullopt;
            o.env["WAYLAND_DISPLAY"] = std::nullopt;
        }
        return o;
    }

    // True once a running copy holds the single-instance lock.
    bool lockIsHeld() const {
        ::setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        InstanceLock probe;
        const bool free = probe.acquire();
        ::unsetenv("XDG_RUNTIME_DIR");
        return !free;
    }

    test::TempDir work_, runtime_, config_;
};

TEST_F(FieldLoaderProcessTest, InstanceCheckOnlyEndsAtOnceAndLeavesTheSettingsAlone) {
    work_.write(kSettingsName, std::string("\x02" "42", 3), 0644);
    struct stat before {};
    ASSERT_EQ(::stat(work_.file(kSettingsName).c_str(), &before), 0);
    for (const char* flag : {"-I", "-i"}) {
        test::ChildProcess child(KORVANE_FIELD_LOADER_PATH, {flag}, options(false));
        EXPECT_EQ(child.waitForExit(20000), 0) << flag << ": " << child.standardError();
        EXPECT_EQ(child.standardOutput() + child.standardError(), "") << flag;
    }
    struct stat after {};
    ASSERT_EQ(::stat(work_.file(kSettingsName).c_str(), &after), 0);
    EXPECT_EQ(work_.read(kSettingsName), std::string("\x02" "42", 3));
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

// Even while a copy runs: they are answered before the lock, and without a display.
TEST_F(FieldLoaderProcessTest, HelpAndVersionAnswerWithoutWindowOrLock) {
    test::ChildProcess first(KORVANE_FIELD_LOADER_PATH, {}, options());
    ASSERT_TRUE(test::waitUntil([&] { return lockIsHeld(); }, 20000)) << first.standardError();
    const std::pair<std::string, std::string> cases[] = {
        {"--help", "Usage: korvane-field-loader [-i]\n"},
        {"--version", std::string("korvane-field-loader ") + kProgramVersion + "\n"},
    };
    for (const auto& [flag, firstLine] : cases) {
        test::ChildProcess child(KORVANE_FIELD_LOADER_PATH, {flag}, options(false));
        EXPECT_EQ(child.waitForExit(20000), 0) << flag << ": " << child.standardError();
        EXPECT_EQ(child.standardOutput().rfind(firstLine, 0), 0u) << flag << ": " << child.standardOutput();
        EXPECT_EQ(child.standardError(), "") << flag;
    }
    EXPECT_FALSE(work_.exists(kSettingsName));
    first.signal(SIGTERM);
    EXPECT_EQ(first.waitForExit(20000), 0);
}

TEST_F(FieldLoaderProcessTest, SecondCopyIsRefusedAndTheFirstEndsInOrder) {
    test::ChildProcess first(KORVANE_FIELD_LOADER_PATH, {}, options());
    ASSERT_TRUE(test::waitUntil([&] { return lockIsHeld(); }, 20000)) << first.standardError();

    for (const std::vector<std::string>& args : {std::vector<std::string>{"-I"}, std::vector<std::string>{}}) {
        test::ChildProcess second(KORVANE_FIELD_LOADER_PATH, args, options());
        EXPECT_EQ(second.waitForExit(20000), 1);
        EXPECT_NE(second.standardError().find(kSecondInstance), std::string::npos) << second.standardError();
    }
    EXPECT_TRUE(first.running()) << "the first copy is unaffected";
    EXPECT_FALSE(work_.exists(kSettingsName)) << "the second copies wrote no settings";

    // A termination request closes the window as its close button would: the settings are written.
    first.signal(SIGTERM);
    EXPECT_EQ(first.waitForExit(20000), 0) << first.standardError();
    EXPECT_EQ(work_.read(kSettingsName), "\x01" "1") << "no file before: the field showed \"1\"";
    EXPECT_FALSE(lockIsHeld());
}

TEST_F(FieldLoaderProcessTest, ReadOnlyWorkingFolderShowsTheDiskMessageOnceAndEndsNormally) {
    work_.write(kSettingsName, std::string("\x01" "9", 2), 0644);
    ASSERT_EQ(::chmod(work_.path().c_str(), 0555), 0);
    auto o = options();
    // Root passes permission checks; drop that power for the child so the folder is truly read-only.
    o.beforeExec = [] {
        ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
        ::prctl(PR_CAPBSET_DROP, CAP_FOWNER, 0, 0, 0);
    };
    test::ChildProcess child(KORVANE_FIELD_LOADER_PATH, {}, o);
    ASSERT_TRUE(test::waitUntil([&] { return lockIsHeld(); }, 20000)) << child.standardError();
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitForExit(20000), 0);
    const std::string err = child.standardError();
    const std::string message = "Could Not Access the Disk to write Setup Information!";
    const auto first = err.find(message);
    ASSERT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find(message, first + 1), std::string::npos) << "shown once";
    ::chmod(work_.path().c_str(), 0755);
    EXPECT_EQ(work_.read(kSettingsName), std::string("\x01" "9", 2)) << "the old file is left as it was";
}

}  // namespace
}  // namespace korvane
