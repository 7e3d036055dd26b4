#include "tests/tools/PadSimHarness.h"

#include "pad/ControlChars.h"
#include "pad/RbaLink.h"
#include "pad/RbaPad.h"
#include "pad/SerialPort.h"
#include "job/LoadJob.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>

namespace korvane {
namespace {

using namespace std::string_literals;

// The text of a received frame, between STX and ETX.
std::string padText(const std::string& frame) {
    const size_t end = frame.find('\x03');
    return frame.size() > 1 && end != std::string::npos ? frame.substr(1, end - 1) : std::string();
}

class PadSimTest : public ::testing::Test {
protected:
    void startWith(std::vector<std::string> args) {
        sim = std::make_unique<test::PadSimProcess>(std::move(args));
        ASSERT_TRUE(sim->ready()) << sim->output() << sim->process->standardError();
        ASSERT_TRUE(port.open(1, 115200, 'N', '8', '1', true)) << port.lastError();
        job.serialPort = &port;
        job.comPort = 1;
        job.usbConnection = true;
    }
    void TearDown() override { port.close(); }

    int exchange(const std::string& text, uint32_t ackMs = 500) {
        reply.clear();
        return port.exchange(buildFrame(text), reply, ackMs, 1000);
    }

    std::unique_ptr<test::PadSimProcess> sim;
    SerialPort port;
    LoadJob job;
    RbaPad pad{InstallationConfig{}, &job};
    std::string reply;
};

TEST_F(PadSimTest, AnnouncesItselfAnswersAndDumpsItsParametersOnSigterm) {
    startWith({"--model", "iSC250", "--app-version", "1901", "--param", "14.5=KORVANEISC250"});
    const std::string first = sim->output().substr(0, sim->output().find('\n'));
    std::smatch match;
    ASSERT_TRUE(std::regex_match(first, match, std::regex("pad ready on com1 -> (/dev/pts/[0-9]+)"))) << first;
    EXPECT_EQ(std::filesystem::read_symlink(sim->devices.file("com1")).string(), match[1].str());

    std::string error;
    ASSERT_TRUE(pad.identify(error)) << error;
    EXPECT_EQ(job.deviceInfo.padModel, "iSC250");
    EXPECT_EQ(job.deviceInfo.padAppVersion, "1901");
    ASSERT_TRUE(pad.setParameter("14", "5", "KORVANEIPP350", error)) << error;
    EXPECT_EQ(sim->files.read("parameters.txt"), "14.5=KORVANEIPP350\n");
    std::string value;
    ASSERT_TRUE(pad.getParameter("14", "05", value, error));
    EXPECT_EQ(value, "KORVANEIPP350");
    EXPECT_TRUE(pad.showPrompt("File load in progress.", "Please wait..."));
    EXPECT_EQ(pad.checkEncryptionKeys(), "");
    ASSERT_TRUE(pad.loadFile("<Form/>"s, "OFFLINE.K3Z", error)) << error;
    EXPECT_EQ(sim->files.read("OFFLINE.K3Z"), "<Form/>");

    ASSERT_TRUE(sim->saysSoon("62. OFFLINE.K3Z, 7 bytes in 1 blocks stored"));
    sim->process->signal(SIGTERM);
    ASSERT_EQ(sim->process->waitForExit(10000), 0);
    const std::string out = sim->output();
    for (const char* line : {"07. identify: model iSC250, application 1901\n", "60. set 14.5=\"KORVANEIPP350\"\n",
                             "00. reset\n", "61. get 14.5 -> \"KORVANEIPP350\"\n",
                             "24. prompt \"TPROMPTLINE1,File load in progress. Please wait...\"\n",
                             "29. key check: KSN_0 FFFF9876543210E00001, KSN_4 FFFFAF4210E00004\n",
                             "parameters at exit:\n14.5=KORVANEIPP350\npad stopped\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
}

TEST_F(PadSimTest, EndsOnSigintToo) {
    startWith({});
    sim->process->signal(SIGINT);
    EXPECT_EQ(sim->process->waitForExit(10000), 0);
    EXPECT_NE(sim->output().find("parameters at exit: none\npad stopped\n"), std::string::npos) << sim->output();
}

TEST_F(PadSimTest, NakAndCorruptReplyFaults) {
    startWith({"--fault", "nak=2@07", "--fault", "corrupt-reply=2@29"});
    EXPECT_EQ(exchange("00.0000"), kLinkSuccess) << "other messages are not touched";
    EXPECT_EQ(exchange("07."), kLinkFailed);
    EXPECT_EQ(exchange("07."), kLinkFailed);
    EXPECT_EQ(exchange("07."), kLinkSuccess);
    // Two bad check bytes, then a good one: the loader NAKs twice and takes the third.
    RbaLink link(port);
    EXPECT_EQ(link.transact(buildFrame("29.00000810"), reply, 500, 2000), kLinkSuccess);
    EXPECT_NE(reply.find("KSN_4="), std::string::npos);
    EXPECT_TRUE(sim->saysSoon("fault corrupt-reply"));
    EXPECT_NE(sim->output().find("fault nak: \"07.\" refused"), std::string::npos);
}

TEST_F(PadSimTest, SilentFaultAndSilentPeriods) {
    startWith({"--fault", "silent=1", "--reboot-time", "300"});
    RbaLink link(port);
    // The first transmission goes unanswered, the second is acknowledged.
    EXPECT_EQ(link.sendFrame(buildFrame("24.MSG.K3Z\x1cTPROMPTLINE1,a b"), 300), kLinkSuccess);
    EXPECT_TRUE(sim->saysSoon("fault silent"));

    EXPECT_EQ(link.sendFrame(buildFrame("97."), 500), kLinkSuccess);
    EXPECT_EQ(exchange("00.0000", 100), kLinkAckTimeout) << "silent while it reboots";
    EXPECT_TRUE(test::waitUntil([&] { return exchange("00.0000", 100) == kLinkSuccess; }, 10000));
    EXPECT_NE(sim->output().find("97. reboot: silent for 300 ms"), std::string::npos);
}

TEST_F(PadSimTest, DropAfterBlockIgnoresTheRestOfTheDownload) {
    startWith({"--fault", "drop-after-block=1"});
    RbaLink link(port);
    const std::string first = buildFrame("62.1801000011A.BIN\x1c" "abc");
    EXPECT_EQ(link.sendFrame(first, 300), kLinkSuccess);
    EXPECT_EQ(link.sendFrame(buildFrame("62.2802000011def"), 300), kLinkAckTimeout);
    EXPECT_EQ(exchange("07.", 300), kLinkAckTimeout) << "the line stays dropped";
    // A new download starts afresh; the fault has struck once.
    EXPECT_EQ(link.sendFrame(first, 300), kLinkSuccess);
    EXPECT_EQ(link.transact(buildFrame("62.3802000011def"), reply, 500, 2000), kLinkSuccess);
    EXPECT_NE(reply.find("62.0"), std::string::npos);
    EXPECT_EQ(sim->files.read("A.BIN"), "abcdef");
    EXPECT_NE(sim->output().find("fault drop-after-block: line dropped after block 1 of A.BIN"), std::string::npos);
}

TEST_F(PadSimTest, RefuseFileAnswersWithTheCode) {
    startWith({"--fault", "refuse-file=1:7"});
    RbaLink link(port);
    const std::string block = buildFrame("62.0801000011B.TXT\x1c" "xyz");
    EXPECT_EQ(link.transact(block, reply, 500, 2000), kLinkSuccess);
    EXPECT_EQ(padText(reply), "62.7");
    EXPECT_FALSE(sim->files.exists("B.TXT"));
    EXPECT_EQ(link.transact(block, reply, 500, 2000), kLinkSuccess);
    EXPECT_EQ(padText(reply), "62.0");
    EXPECT_EQ(sim->files.read("B.TXT"), "xyz");
}

TEST_F(PadSimTest, ABrokenDownloadIsAnsweredWithAnError) {
    startWith({});
    RbaLink link(port);
    EXPECT_EQ(link.sendFrame(buildFrame("62.1801000011C.BIN\x1c" "abc"), 300), kLinkSuccess);
    // Sequence 03 where 02 is due.
    EXPECT_EQ(link.transact(buildFrame("62.3803000011def"), reply, 500, 2000), kLinkSuccess);
    EXPECT_EQ(padText(reply), "62.9");
    EXPECT_FALSE(sim->files.exists("C.BIN"));
    EXPECT_TRUE(sim->saysSoon("62. download broken: sequence 3 where 2 was due"));
}

TEST_F(PadSimTest, AnApplicationImageChangesTheVersionAndRestarts) {
    startWith({"--install-time", "10", "--restart-time", "300", "--fault", "nak=1@62"});
    std::string error;
    ASSERT_TRUE(pad.loadFile("head RBA_APP_VERSION=2402 tail"s, "APP.OGZ", error)) << error;
    EXPECT_EQ(exchange("07.", 100), kLinkAckTimeout) << "restarting";
    EXPECT_TRUE(test::waitUntil([&] { return exchange("07.", 100) == kLinkSuccess; }, 10000));
    EXPECT_NE(reply.find("\x1c" "2402\x1c"), std::string::npos) << renderControlChars(reply);
    EXPECT_TRUE(sim->saysSoon("installing application 2402"));
}

TEST(PadSimUsage, RefusesBadOptions) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--bogus"}, {"--port", "0"}, {"--port", "256"}, {"--fault", "nak=x"},
          {"--fault", "shout"}, {"--fault", "drop-after-block"}, {"--fault", "refuse-file@62"},
          {"--param", "14=KORVANE"}, {"--baud"}}) {
        test::ChildProcess sim(KORVANE_PAD_SIM_PATH, args);
        EXPECT_EQ(sim.waitForExit(10000), 2) << args[0];
        EXPECT_NE(sim.standardError().find("Usage: korvane-pad-sim"), std::string::npos);
    }
    test::ChildProcess help(KORVANE_PAD_SIM_PATH, {"--help"});
    EXPECT_EQ(help.waitForExit(10000), 0);
    EXPECT_NE(help.standardOutput().find("drop-after-block=K[:N]"), std::string::npos);
}

}  // namespace
}  // namespace korvane
