#include "pad/VerifonePad.h"

#include "pad/Bundle.h"
#include "tests/pad/RbaPadRig.h"
#include "tests/support/TempDir.h"
#include "tools/padpeer/PadPeer.h"
#include "job/LoadJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {
namespace {

namespace fs = std::filesystem;
using padpeer::PadPeer;
using Replies = std::vector<std::string>;

// The procedure waits of this binary run at a thousandth: a 12 ms shortest
// Evoload run and a 900 ms limit, 50 ms and 2.4 s for an archive, 1.8 s of
// install waits (the link time-outs are not scaled).
const bool waitsScaled = [] { return ::setenv("KORVANE_WAIT_SCALE", "0.001", 1) == 0; }();

// A download program for these tests: records its arguments and the files of
// its working directory (name, mode, size, contents' checksum) into a new
// folder under $FAKE_DDL_RECORD, then ends after 0.1 s; a run whose
// arguments contain $FAKE_DDL_SLOW never ends by itself.
constexpr const char* kFakeProgram = R"SH(#!/bin/sh
n=$(ls "$FAKE_DDL_RECORD" | wc -l)
d=$(printf '%s/run%03d' "$FAKE_DDL_RECORD" "$n")
mkdir "$d.part"
printf '%s\n' "$@" >"$d.part/args"
for f in * .*; do
  [ -f "$f" ] && echo "$f $(stat -c %a "$f") $(wc -c <"$f") $(cksum <"$f" | cut -d' ' -f1)"
done >"$d.part/files"
mv "$d.part" "$d"
if [ -n "$FAKE_DDL_SLOW" ]; then
  case " $* " in *" $FAKE_DDL_SLOW "*) exec sleep 30 ;; esac
fi
sleep 0.1
exit 3
)SH";

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class VerifonePadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(waitsScaled);
        tools_.write("ddl.exe", kFakeProgram, 0755);
        ::mkdir(record_.c_str(), 0700);
        savedPath_ = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
        ::setenv("PATH", (tools_.path() + ":" + savedPath_).c_str(), 1);
        ::setenv("FAKE_DDL_RECORD", record_.c_str(), 1);
        ::unsetenv("FAKE_DDL_SLOW");
        savedDirectory_ = fs::current_path();
        fs::current_path(work_.path());
        rig.port.close();  // the handler closes it before any run
    }
    void TearDown() override {
        fs::current_path(savedDirectory_);
        ::setenv("PATH", savedPath_.c_str(), 1);
    }

    void unpack(const std::vector<std::pair<std::string, std::string>>& entries) {
        bundle_.clear();
        for (const auto& [name, data] : entries)
            ASSERT_TRUE(appendBundleEntry(bundle_, name, ByteArray(data.begin(), data.end())));
        rig.job.configImage = &bundle_;
        ASSERT_TRUE(rig.pad.unpackBundle()) << rig.pad.LastErrorText();
    }

    std::vector<std::string> runs() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(record_)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> argsOf(const std::string& run) const { return linesOf(slurp(record_ + "/" + run + "/args")); }
    std::vector<std::string> filesOf(const std::string& run) const {
        return linesOf(slurp(record_ + "/" + run + "/files"));
    }
    std::vector<std::string> leftInWorkingDirectory() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(work_.path())) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    void hideProgram() { ::setenv("PATH", "/nonexistent-korvane-tools", 1); }

    test::TempDir tools_;
    test::TempDir work_;
    test::TempDir records_;
    std::string record_ = records_.file("runs");
    test::PadRig<VerifonePad> rig;

private:
    ByteArray bundle_;
    std::string savedPath_;
    fs::path savedDirectory_;
};

TEST_F(VerifonePadTest, EvoloadRunSeesEveryFilePrivateAndNoneStaysBehind) {
    for (const bool usb : {false, true}) {
        SCOPED_TRACE(usb ? "USB" : "serial");
        rig.job.usbConnection = usb;
        // An older file of the same name, readable by all, is replaced, not reused.
        work_.write("EvoloadSerial.dld", "an old description, world readable", 0644);
        unpack({{"EvoloadSerial.dld", "serial description"}, {"EvoloadUSB.dld", "usb description"},
                {"VX805APP.ZIP", std::string(5000, '\x7f')}});
        EXPECT_EQ(rig.pad.loadEvoload(), 2) << rig.job.loadReport.resultText;
        EXPECT_EQ(rig.job.loadReport.resultText, "Pad Loaded Successfully.");
        // Its exit code (3) is not used; the running time decides.
        EXPECT_EQ(rig.pad.lastRun().exitCode, 3);
        const std::string run = runs().back();
        EXPECT_EQ(argsOf(run), (std::vector<std::string>{"-p1", "-b115200", "-k7",
                                                         usb ? "-fEvoloadUSB.dld" : "-fEvoloadSerial.dld"}));
        const std::vector<std::string> seen = filesOf(run);
        ASSERT_EQ(seen.size(), 3u);
        EXPECT_EQ(seen[0].substr(0, seen[0].rfind(' ')), "EvoloadSerial.dld 600 18");
        EXPECT_EQ(seen[1].substr(0, seen[1].rfind(' ')), "EvoloadUSB.dld 600 15");
        EXPECT_EQ(seen[2].substr(0, seen[2].rfind(' ')), "VX805APP.ZIP 600 5000");
        EXPECT_EQ(leftInWorkingDirectory(), std::vector<std::string>{});
        const auto statuses = rig.statuses();
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back().rfind("ddl.exe ended with exit code 3 after ", 0), 0u) << statuses.back();
    }
}

TEST_F(VerifonePadTest, FilesAreRemovedOnEveryFailedPath) {
    const struct Case {
        const char* what;
        bool hide;
        bool blockSecond;  // a directory stands where the second file goes
        std::string secondName;
        std::string resultText;
    } cases[] = {
        {"the program cannot be started", true, false, "EvoloadUSB.dld", "Could not launch DDL."},
        {"a file cannot be created", false, true, "EvoloadUSB.dld",
         "Could not create file EvoloadUSB.dld. Message: Is a directory"},
        {"an entry names a file elsewhere", false, false, "../escaped.dld",
         "Could not create file ../escaped.dld. Message: The name is not a plain file name."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.hide) hideProgram();
        if (c.blockSecond) {
            ASSERT_EQ(::mkdir(work_.file(c.secondName).c_str(), 0700), 0);
        }
        unpack({{"EvoloadSerial.dld", "serial description"}, {c.secondName, "second"}, {"Z.BIN", "last"}});
        const size_t runsBefore = runs().size();
        EXPECT_EQ(rig.pad.loadEvoload(), 0);
        EXPECT_EQ(rig.job.loadReport.resultText, c.resultText);
        EXPECT_EQ(runs().size(), runsBefore);
        const std::vector<std::string> left = leftInWorkingDirectory();
        EXPECT_EQ(left, c.blockSecond ? std::vector<std::string>{c.secondName} : std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(fs::path(work_.path()).parent_path() / "escaped.dld"));
        if (c.blockSecond) ::rmdir(work_.file(c.secondName).c_str());
        TearDown();
        SetUp();
    }
}

TEST_F(VerifonePadTest, OverlongEvoloadRunIsStoppedAndFails) {
    rig.job.usbConnection = false;
    ::setenv("FAKE_DDL_SLOW", "-fEvoloadSerial.dld", 1);
    unpack({{"EvoloadSerial.dld", "serial description"}});
    EXPECT_EQ(rig.pad.loadEvoload(), 0);
    EXPECT_EQ(rig.job.loadReport.resultText, "DDL load failed. Is pad waiting for download?");
    EXPECT_TRUE(rig.pad.lastRun().timedOut);
    EXPECT_EQ(leftInWorkingDirectory(), std::vector<std::string>{});
    EXPECT_EQ(rig.statuses().back().rfind("ddl.exe was stopped at its limit after ", 0), 0u);
}

// The P400: both archives in order with download mode requested between them
// on the job's port, which the pad object opens and closes itself.
TEST_F(VerifonePadTest, AdkAndXpiRunsInOrder) {
    const struct Case {
        const char* what;
        bool hide;
        const char* slow;
        int result;
        std::string outcome, resultText;
        size_t runs;
    } cases[] = {
        {"both archives load", false, nullptr, 2, "", "Pad Loaded Successfully.", 2},
        {"the ADK cannot be started", true, nullptr, 0, "FAIL-LOAD ADK", "Could not launch DDL.", 0},
        {"the XPI run overruns", false, "-i2_DL.VOS2-ENGAGE-CXPI+CONFIG.TGZ", 0, "FAIL-LOAD XPI",
         "DDL load failed. Is pad waiting for download and using correct communication method?", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.hide) hideProgram();
        if (c.slow != nullptr) ::setenv("FAKE_DDL_SLOW", c.slow, 1);
        rig.job.loadReport = LoadReport{};
        const size_t runsBefore = runs().size();
        const size_t statusesBefore = rig.statuses().size();
        unpack({{VerifonePad::kAdkArchive, "adk"}, {VerifonePad::kXpiArchive, "xpi"}});
        PadPeer peer(rig.line.pad, [](const std::string&) -> Replies { return {}; });
        peer.start();
        EXPECT_EQ(rig.pad.loadAdkAndXpi(), c.result);
        peer.stop();
        EXPECT_EQ(rig.job.loadReport.outcome, c.outcome);
        EXPECT_EQ(rig.job.loadReport.resultText, c.resultText);
        EXPECT_FALSE(rig.port.isOpen());
        EXPECT_EQ(leftInWorkingDirectory(), std::vector<std::string>{});
        std::vector<std::string> made = runs();
        made.erase(made.begin(), made.begin() + static_cast<long>(runsBefore));
        ASSERT_EQ(made.size(), c.runs);
        if (c.runs == 2) {
            EXPECT_EQ(argsOf(made[0]),
                      (std::vector<std::string>{"-p1", "-b115200", "-k7", "-i1_VOS2_LOAD_SOLUTIONS_DL.TGZ"}));
            EXPECT_EQ(argsOf(made[1]),
                      (std::vector<std::string>{"-p1", "-b115200", "-k7", "-i2_DL.VOS2-ENGAGE-CXPI+CONFIG.TGZ"}));
            ASSERT_EQ(peer.framesReceived().size(), 1u);
            EXPECT_EQ(padpeer::textOf(peer.framesReceived()[0]), "*01P2U");
        }
        std::vector<std::string> steps;
        const std::vector<std::string> statuses = rig.statuses();
        for (size_t i = statusesBefore; i < statuses.size(); ++i)
            if (statuses[i].rfind("ddl.exe ", 0) != 0) steps.push_back(statuses[i]);
        const std::vector<std::string> all = {"Loading ADK Upgrade",
                                              "Waiting for ADK install. Device will restart multiple times.",
                                              "Loading XPI Upgrade", "Waiting for XPI install. Device will restart.",
                                              "Performing EMVParamDownload"};
        const size_t expectedSteps = c.result == 2 ? 5 : c.runs == 0 ? 1 : 3;
        EXPECT_EQ(steps, std::vector<std::string>(all.begin(), all.begin() + expectedSteps));
        TearDown();
        SetUp();
    }
}

}  // namespace
}  // namespace korvane
