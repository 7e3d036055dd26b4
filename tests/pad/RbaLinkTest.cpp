#include "pad/RbaLink.h"

#include "tests/pad/PadLine.h"
#include "tests/support/ChildProcess.h"
#include "tools/padpeer/PadPeer.h"

#include <gtest/gtest.h>

#include <thread>

namespace korvane {
namespace {

using namespace std::string_literals;
using padpeer::frameOf;
using padpeer::withBadCheck;

class RbaLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(line.openPort(port)) << port.lastError(); }

    test::PadLine line;
    SerialPort port;
    RbaLink link{port};
};

TEST(RbaLink, ReceiveFrameNaksBadCheckBytesAtMostThreeTimes) {
    const std::string good = frameOf("62.1");
    for (int bad = 1; bad <= 3; ++bad) {
        test::PadLine line;
        SerialPort port;
        ASSERT_TRUE(line.openPort(port));
        std::string sent;
        for (int i = 0; i < bad; ++i) sent += withBadCheck(good);
        // After the third NAK the good frame that follows must not be taken.
        sent += good;
        ASSERT_TRUE(line.pad.write(sent));
        std::string reply;
        const int result = RbaLink(port).receiveFrame(reply, 10000);
        const std::string answers = line.leftAtPad();
        if (bad < 3) {
            EXPECT_EQ(result, kLinkSuccess) << bad;
            EXPECT_EQ(reply, good);
            EXPECT_EQ(answers, std::string(bad, '\x15') + "\x06") << bad;
        } else {
            EXPECT_EQ(result, kLinkFailed);
            EXPECT_EQ(answers, "\x15\x15\x15");
        }
    }
}

TEST_F(RbaLinkTest, NoiseBeforeStxIsDropped) {
    const std::string good = frameOf("00.0000");
    ASSERT_TRUE(line.pad.write("\x06\x15noise\x03x"s + good));
    std::string reply;
    EXPECT_EQ(link.receiveFrame(reply, 10000), kLinkSuccess);
    EXPECT_EQ(reply, good);
    EXPECT_EQ(line.leftAtPad(), "\x06");

    ASSERT_TRUE(line.pad.write("\x15\x03zz"s + good));
    EXPECT_TRUE(link.awaitFrame(10000));
    EXPECT_EQ(line.leftAtPad(), "\x06");
}

TEST_F(RbaLinkTest, AwaitFrameGivesUpAtTheThirdNak) {
    const std::string good = frameOf("00.0000");
    ASSERT_TRUE(line.pad.write(withBadCheck(good) + withBadCheck(good) + good));
    EXPECT_TRUE(link.awaitFrame(10000));
    EXPECT_EQ(line.leftAtPad(), "\x15\x15\x06");

    ASSERT_TRUE(line.pad.write(withBadCheck(good) + withBadCheck(good) + withBadCheck(good) + good));
    EXPECT_FALSE(link.awaitFrame(10000));
    EXPECT_EQ(line.leftAtPad(), "\x15\x15\x15");
}

TEST_F(RbaLinkTest, SilenceAndStrayBytes) {
    std::string reply;
    EXPECT_EQ(link.receiveFrame(reply, 200), kLinkReplyTimeout);
    EXPECT_EQ(link.waitAck(200), kLinkAckTimeout);
    EXPECT_FALSE(link.awaitFrame(200));

    // One bad frame, then nothing: the time-out reports the failed check.
    ASSERT_TRUE(line.pad.write(withBadCheck(frameOf("62.1"))));
    EXPECT_EQ(link.receiveFrame(reply, 300), kLinkFailed);
    EXPECT_EQ(line.leftAtPad(), "\x15");

    ASSERT_TRUE(line.pad.write("\x06"));
    EXPECT_EQ(link.waitAck(5000), kLinkSuccess);
    ASSERT_TRUE(line.pad.write("\x15"));
    EXPECT_EQ(link.waitAck(5000), kLinkFailed);
    ASSERT_TRUE(line.pad.write("A\x06"));
    ASSERT_TRUE(test::waitUntil([&] { return port.bytesAvailable() == 2; }, 5000));
    EXPECT_EQ(link.waitAck(5000), kLinkFailed);
    EXPECT_EQ(port.bytesAvailable(), 1u) << "waitAck takes exactly one byte";
}

TEST_F(RbaLinkTest, ReplyWithoutEtxEndsAtTheTimeOut) {
    const std::string flood = "\x02"s + std::string(70000, 'A');
    std::thread pad([&] { line.pad.write(flood, 20000); });
    std::string reply;
    EXPECT_EQ(link.receiveFrame(reply, 2000), kLinkReplyTimeout);
    pad.join();
    EXPECT_LE(reply.size(), flood.size());
    EXPECT_EQ(reply.substr(0, 3), "\x02" "AA");
}

TEST_F(RbaLinkTest, SendFrameTransmitsAtMostTwice) {
    const std::string frame = buildFrame("62.block");
    struct Case {
        int naks;
        int silent;
        int result;
        int transmissions;
    };
    const Case cases[] = {
        {0, 0, kLinkSuccess, 1},
        {1, 0, kLinkSuccess, 2},
        {2, 0, kLinkFailed, 2},
        {3, 0, kLinkFailed, 2},
        {0, 1, kLinkSuccess, 2},
        {0, 2, kLinkAckTimeout, 2},
    };
    for (const Case& c : cases) {
        padpeer::PadPeer pad(line.pad, [](const std::string&) { return std::vector<std::string>{}; });
        pad.nakNextFrames(c.naks);
        pad.ignoreNextFrames(c.silent);
        pad.start();
        EXPECT_EQ(link.sendFrame(frame, 300), c.result) << c.naks << "/" << c.silent;
        pad.stop();
        const std::vector<std::string> frames = pad.framesReceived();
        EXPECT_EQ(frames.size(), static_cast<size_t>(c.transmissions)) << c.naks << "/" << c.silent;
        for (const std::string& received : frames) EXPECT_EQ(received, frame);
        EXPECT_EQ(line.leftAtPad(), "");
    }

    SerialPort closed;
    RbaLink closedLink(closed);
    EXPECT_EQ(closedLink.sendFrame(frame, 300), SerialPort::kStatusIoError);
}

TEST_F(RbaLinkTest, TransactSendsThenReceives) {
    padpeer::PadPeer pad(line.pad, [](const std::string& text) {
        return text == "62.final" ? std::vector<std::string>{"62.0"} : std::vector<std::string>{};
    });
    pad.start();
    std::string reply = "old";
    EXPECT_EQ(link.transact(buildFrame("62.final"), reply, 3000, 10000), kLinkSuccess);
    EXPECT_EQ(reply, frameOf("62.0"));

    pad.nakNextFrames(1);
    pad.corruptNextReplies(2);
    EXPECT_EQ(link.transact(buildFrame("62.final"), reply, 3000, 10000), kLinkSuccess);
    EXPECT_EQ(reply, frameOf("62.0"));

    pad.corruptNextReplies(3);
    EXPECT_EQ(link.transact(buildFrame("62.final"), reply, 3000, 10000), kLinkFailed);

    pad.ignoreNextFrames(2);
    EXPECT_EQ(link.transact(buildFrame("62.final"), reply, 200, 10000), kLinkAckTimeout);
    EXPECT_EQ(reply, "");
    pad.stop();
    EXPECT_EQ(pad.naksReceived(), 2 + 3);
    EXPECT_EQ(pad.acksReceived(), 2);
    EXPECT_EQ(pad.framesReceived().size(), 1u + 2u + 1u + 2u);
}

TEST_F(RbaLinkTest, DrainInputDiscardsWhatArrives) {
    ASSERT_TRUE(line.pad.write("left over"));
    ASSERT_TRUE(test::waitUntil([&] { return port.bytesAvailable() == 9; }, 5000));
    link.drainInput(20);
    EXPECT_EQ(port.bytesAvailable(), 0u);
}

}  // namespace
}  // namespace korvane
