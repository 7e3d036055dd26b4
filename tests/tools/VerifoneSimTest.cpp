#include "tests/tools/PadSimHarness.h"
#include "tests/tools/ScriptedEquinoxClient.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <regex>
#include <termios.h>
#include <unistd.h>

namespace korvane {
namespace {

using namespace std::string_literals;
// The Verifone pads speak the same framing (STX text ETX, XOR check byte,
// ACK/NAK): the scripted client frames every message itself.
using test::ScriptedEquinoxClient;

constexpr char kFs = ScriptedEquinoxClient::kFs;
constexpr char kGs = 0x1d;
constexpr char kAck = ScriptedEquinoxClient::kAck;
constexpr char kNak = ScriptedEquinoxClient::kNak;

const std::string kTagsQuery = "S95"s + kFs + "11,12,15";

// The line speed is the terminal's, whichever descriptor sets it.
bool setLineSpeed(const std::string& device, speed_t speed) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    termios settings{};
    const bool ok = ::tcgetattr(fd, &settings) == 0 && ::cfsetispeed(&settings, speed) == 0 &&
                    ::cfsetospeed(&settings, speed) == 0 && ::tcsetattr(fd, TCSANOW, &settings) == 0;
    ::close(fd);
    return ok;
}

class VerifoneSimTest : public ::testing::Test {
protected:
    void startWith(const std::string& model, std::vector<std::string> args = {}, speed_t speed = 0) {
        args.insert(args.begin(), {"--model", model});
        sim = std::make_unique<test::PadSimProcess>(std::move(args));
        ASSERT_TRUE(sim->ready()) << sim->output() << sim->process->standardError();
        const std::string device = sim->devices.file("com1");
        ASSERT_TRUE(client.open(device));
        ASSERT_TRUE(setLineSpeed(device, speed != 0 ? speed : model == "Vx805" ? B9600 : B115200));
    }

    std::string stopped() {
        sim->process->signal(SIGTERM);
        EXPECT_EQ(sim->process->waitForExit(10000), 0);
        return sim->output();
    }

    static int violationsIn(const std::string& log) {
        std::smatch match;
        if (!std::regex_search(log, match, std::regex("summary: .*, violations: ([0-9]+)\n"))) return -1;
        return std::stoi(match[1]);
    }

    std::unique_ptr<test::PadSimProcess> sim;
    ScriptedEquinoxClient client;
};

// Positions from the STX: status 1-2, model 3-7, application version 20-28,
// OEM identifier 47-62; tags 11, 12 and 15 after a GS.
TEST_F(VerifoneSimTest, AnswersBothIdentityQueriesTheDownloadModeRequestAndZ8) {
    const struct {
        std::string model;
        std::vector<std::string> args;
        std::string fixedModel, tagModel;
    } cases[] = {
        {"Vx805", {}, "VX805", "VX805"},
        {"P400", {"--app-version", "31504", "--oem-id", "OEM-P400", "--serial-number", "S-1"}, "P400 ", "P400"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        startWith(c.model, c.args);
        const std::string fixed = client.transact("S95");
        ASSERT_EQ(fixed.size(), 62u) << fixed;  // positions 1 to 62
        EXPECT_EQ(fixed.substr(0, 2), "00");
        EXPECT_EQ(fixed.substr(2, 5), c.fixedModel);
        const std::string version = c.model == "Vx805" ? "000002301" : "000031504";
        const std::string oem = c.model == "Vx805" ? "KORVANE" : "OEM-P400";
        EXPECT_EQ(fixed.substr(19, 9), version);
        EXPECT_EQ(fixed.substr(46, 16), oem + std::string(16 - oem.size(), ' '));
        EXPECT_EQ(client.transact(kTagsQuery),
                  "S9500"s + kGs + "11" + c.tagModel + kFs + "12" + version + kFs + "15" + oem);

        // Download mode is acknowledged and nothing more.
        EXPECT_EQ(client.send("*01P2U"), kAck);
        EXPECT_EQ(client.send("*01P21"), kAck);
        EXPECT_EQ(client.drain(300), "");
        EXPECT_EQ(client.transact("Z8Upgrade failed"s + kFs + kFs + kFs), "Z800");

        const std::string log = stopped();
        EXPECT_NE(log.find("download mode: U (USB)\ndownload mode: 1 (serial)\n"), std::string::npos) << log;
        EXPECT_NE(log.find("Z8: Upgrade failed\n"), std::string::npos) << log;
        EXPECT_EQ(violationsIn(log), 0) << log;
        client.close();
    }
}

TEST_F(VerifoneSimTest, ReportsEveryDeviation) {
    startWith("Vx805", {}, B115200);
    EXPECT_FALSE(client.transact("S95").empty());
    ASSERT_TRUE(setLineSpeed(sim->devices.file("com1"), B9600));
    EXPECT_EQ(client.send("*01P2X"), kAck);
    EXPECT_EQ(client.send("Z8no separators"), kAck);
    EXPECT_EQ(client.send("Q1"), kAck);
    EXPECT_EQ(client.drain(300), "");
    const std::string log = stopped();
    EXPECT_NE(log.find("violation: \"S95\" at 115200 baud, expected 9600"), std::string::npos) << log;
    EXPECT_NE(log.find("violation: download-mode request \"*01P2X\""), std::string::npos) << log;
    EXPECT_NE(log.find("violation: \"Z8no separators\": a Z8 message ends with FS FS FS"), std::string::npos);
    EXPECT_NE(log.find("violation: unknown message \"Q1\""), std::string::npos);
    EXPECT_EQ(violationsIn(log), 4) << log;
}

TEST_F(VerifoneSimTest, FaultsStrikeTheNextQueriesOnly) {
    const struct {
        std::string fault;
        std::string first;  // reply text to the first "S95", or "<no ack>"
        bool naked;
    } cases[] = {
        {"nak", "<no ack>", true},
        {"silent", "<no ack>", false},
        {"short-reply", "0", false},
        {"status=01", "01", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        startWith("Vx805", {"--fault", c.fault});
        if (c.naked) {
            EXPECT_EQ(client.send("S95"), kNak);
        } else if (c.first == "<no ack>") {
            EXPECT_EQ(client.send("S95", 500), std::nullopt);
        } else {
            EXPECT_EQ(client.transact("S95").substr(0, c.first.size()), c.first);
        }
        // The second query is answered in full.
        const std::string second = client.transact("S95");
        EXPECT_EQ(second.substr(0, 7), "00VX805") << second;
        const std::string log = stopped();
        EXPECT_EQ(violationsIn(log), 0) << log;
        client.close();
    }
}

TEST(VerifoneSimOptions, FaultsOfOtherFamiliesAreRefused) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--model", "Vx805", "--fault", "stay-down"},
          std::vector<std::string>{"--model", "P400", "--fault", "nak@S95"},
          std::vector<std::string>{"--model", "iPP350", "--fault", "short-reply"},
          std::vector<std::string>{"--model", "P400", "--fault", "status=00"}}) {
        test::ChildProcess sim(KORVANE_PAD_SIM_PATH, args);
        EXPECT_EQ(sim.waitForExit(10000), 2) << args[1] << " " << args[3];
    }
}

}  // namespace
}  // namespace korvane
