#include "pad/SerialPort.h"

#include "tests/pad/PadLine.h"
#include "tests/support/ChildProcess.h"
#include "tools/padpeer/PadPeer.h"

#include <gtest/gtest.h>

#include <thread>

namespace korvane {
namespace {

using namespace std::string_literals;
using padpeer::CheckMode;
using padpeer::frameOf;

// Answers "07." with an identification and "61." with a value holding one byte above 7F
// (an odd count, so the eight-bit and seven-bit check bytes differ).
std::vector<std::string> identifyingPad(const std::string& text) {
    if (text == "07.") return {"07.0001KVN1234"};
    if (text.rfind("61.", 0) == 0) return {"61.2\x1D" "14\x1D\xC1" "Z"};
    return {};
}

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(line.openPort(port)) << port.lastError();
        pad.setReplyCheckMode(CheckMode::sevenBit);
        pad.start();
    }

    test::PadLine line;
    SerialPort port;
    padpeer::PadPeer pad{line.pad, identifyingPad};
};

TEST_F(ExchangeTest, AcceptedReplyIsAcknowledged) {
    std::string reply = "old";
    ASSERT_TRUE(line.pad.write("stale bytes"));
    ASSERT_TRUE(test::waitUntil([&] { return port.bytesAvailable() > 0; }, 5000));
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 10000, 10000), SerialPort::kStatusDone);
    EXPECT_EQ(reply, frameOf("07.0001KVN1234", CheckMode::sevenBit));
    pad.stop();
    EXPECT_EQ(pad.acksReceived(), 1);
    EXPECT_EQ(pad.framesReceived(), std::vector<std::string>{buildFrame("07.")});
}

TEST_F(ExchangeTest, ReplyAboveSevenBitsIsCheckedOnTheLowSevenBits) {
    const std::string request = buildFrame("61.14\x1D" "5");
    std::string reply;
    EXPECT_EQ(port.exchange(request, reply, 1000, 2000), SerialPort::kStatusDone);
    EXPECT_EQ(reply, frameOf("61.2\x1D" "14\x1D\xC1" "Z", CheckMode::sevenBit));

    // The same reply checked on all eight bits is refused: NAK, NAK, NAK, then 1.
    pad.setReplyCheckMode(CheckMode::eightBit);
    EXPECT_EQ(port.exchange(request, reply, 1000, 2000), SerialPort::kStatusIoError);
    pad.stop();
    EXPECT_EQ(pad.naksReceived(), 3);
    EXPECT_EQ(pad.acksReceived(), 1);
}

TEST_F(ExchangeTest, RefusedRepliesAreCollectedAfresh) {
    std::string reply;
    pad.corruptNextReplies(2);
    pad.noiseBeforeNextReply("\x15junk");
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 1000, 2000), SerialPort::kStatusDone);
    EXPECT_EQ(reply, frameOf("07.0001KVN1234", CheckMode::sevenBit));
    pad.corruptNextReplies(3);
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 1000, 2000), SerialPort::kStatusIoError);
    pad.stop();
    EXPECT_EQ(pad.naksReceived(), 2 + 3);
    EXPECT_EQ(pad.acksReceived(), 1);
}

TEST_F(ExchangeTest, FrameIsSentOnlyOnce) {
    std::string reply;
    pad.nakNextFrames(1);
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 1000, 1000), SerialPort::kStatusIoError);
    EXPECT_EQ(port.sendAndAwaitAck(buildFrame("*01P21")), SerialPort::kStatusDone);
    pad.nakNextFrames(1);
    EXPECT_EQ(port.sendAndAwaitAck(buildFrame("*01P21")), SerialPort::kStatusIoError);
    pad.ignoreNextFrames(1);
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 300, 1000), SerialPort::kStatusNoAnswer);
    pad.stop();
    EXPECT_EQ(pad.framesReceived().size(), 4u);
    EXPECT_EQ(line.leftAtPad(), "");
}

// The waits of the protocol's own length (1000 ms for an ACK or EOT, 1500 ms
// past the reply time-out) are all in this one test.
TEST_F(ExchangeTest, FixedWaitsEndWithTheirCodes) {
    std::string reply;
    pad.ignoreNextFrames(1);
    EXPECT_EQ(port.sendAndAwaitAck(buildFrame("*01P2U")), SerialPort::kStatusNoAnswer);

    pad.setAfterReply("\x04");
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 1000, 1000, kEtx, true), SerialPort::kStatusDone);
    pad.setAfterReply("X");
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 1000, 1000, kEtx, true), SerialPort::kStatusIoError);
    EXPECT_EQ(reply, frameOf("07.0001KVN1234", CheckMode::sevenBit));
    pad.setAfterReply("");
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 1000, 1000, kEtx, true), SerialPort::kStatusDone);

    // ACK, then no reply.
    EXPECT_EQ(port.exchange(buildFrame("99."), reply, 1000, 100), SerialPort::kStatusTimeout);
    pad.stop();

    // ACK, then a reply that never ends: 70000 bytes without ETX.
    std::thread flood([&] {
        if (line.pad.readFrame(5000)) line.pad.write("\x06\x02"s + std::string(70000, 'A'), 2000);
    });
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 5000, 100), SerialPort::kStatusTimeout);
    flood.join();
    EXPECT_LE(reply.size(), 70001u);
    EXPECT_EQ(reply.substr(0, 3), "\x02" "AA");

    // ACK, one bad reply, then silence: the failed check is what is reported.
    std::thread once([&] {
        if (line.pad.readFrame(5000)) line.pad.write("\x06"s + padpeer::withBadCheck(frameOf("07.1")));
    });
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 5000, 100), SerialPort::kStatusIoError);
    once.join();
    EXPECT_EQ(line.pad.readByte(1000), std::optional<char>('\x15'));
}

}  // namespace
}  // namespace korvane
