// SerialPort on "\\.\COMn" under Windows, against the Linux peer at the far
// end of the line (tests/windows/peers/SerialLoopPeer.cpp). The port number
// comes from KORVANE_TEST_COM_PORT; the peer checks every byte it receives
// against what the test announced, and each test asks it for its count.
#include "pad/SerialPort.h"
#include "platform/DeviceAccess.h"
#include "platform/Tick.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace korvane {
namespace {

constexpr uint32_t kArrivalLimitMs = 10000;

int testPortNumber() {
    const char* value = std::getenv("KORVANE_TEST_COM_PORT");
    return value != nullptr ? std::atoi(value) : 0;
}

std::string hexOf(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text.empty() ? "-" : text;
}

// STX, text, ETX and the XOR of everything after STX, worked out here rather
// than by the loader's own encoder.
std::string frameOf(const std::string& text, bool spoilCheck = false) {
    std::string frame = "\x02" + text + "\x03";
    char check = 0;
    for (size_t i = 1; i < frame.size(); ++i) check = static_cast<char>(check ^ frame[i]);
    return frame + static_cast<char>(spoilCheck ? check ^ 0x01 : check);
}

class SerialPortWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        number_ = testPortNumber();
        ASSERT_GT(number_, 0) << "KORVANE_TEST_COM_PORT names no port";
        ASSERT_TRUE(port_.open(number_, 115200, 'N', '8', '1', true)) << port_.lastError();
    }

    void TearDown() override {
        if (!port_.isOpen()) return;
        // Whatever the peer sent in this test has been read or may go now.
        port_.purgeInput();
        tell("#check");
        EXPECT_EQ(lineFromPeer(), "=0") << "the peer saw bytes it was not told of";
    }

    void tell(const std::string& command) {
        ASSERT_EQ(port_.writeString((command + "\n").c_str(), SerialPort::kWriteTimeoutMs), SerialPort::kStatusDone)
            << port_.lastError();
    }

    std::string lineFromPeer() {
        std::string line;
        const uint32_t start = tickCount();
        while (elapsedSince(start) < kArrivalLimitMs) {
            if (!port_.waitReadable(10) || port_.readByte() != 1) continue;
            if (port_.readBuffer()[0] == '\n') return line;
            line += port_.readBuffer()[0];
        }
        return line + "<no line end>";
    }

    // Waits until `count` bytes have arrived from the peer.
    bool awaitQueued(uint32_t count) {
        const uint32_t start = tickCount();
        while (port_.bytesAvailable() < count) {
            if (elapsedSince(start) > kArrivalLimitMs) return false;
            sleepMs(1);
        }
        return port_.bytesAvailable() == count;
    }

    int number_ = 0;
    SerialPort port_;
};

// Sent after the last test: the peer ends and reports its verdict.
class PeerFarewell : public ::testing::Environment {
public:
    void TearDown() override {
        SerialPort port;
        if (testPortNumber() > 0 && port.open(testPortNumber(), 115200, 'N', '8', '1', true))
            port.writeString("#bye\n", SerialPort::kWriteTimeoutMs);
    }
};
::testing::Environment* const farewell = ::testing::AddGlobalTestEnvironment(new PeerFarewell);

TEST(SerialPortWin32Open, NumberOutOfRangeFailsBeforeAnyDevice) {
    for (const int number : {0, 256, -1}) {
        SerialPort port;
        forgetDeviceOpenFailure();
        EXPECT_FALSE(port.open(number, 115200, 'N', '8', '1', true)) << number;
        EXPECT_FALSE(port.isOpen());
        EXPECT_NE(port.lastError().find("out of range"), std::string::npos) << port.lastError();
        EXPECT_FALSE(takeDeviceOpenFailure()) << "no device may be tried for " << number;
    }
}

TEST(SerialPortWin32Open, MissingPortNamesTheDeviceAndTheSystemsReason) {
    SerialPort port;
    EXPECT_FALSE(port.open(213, 115200, 'N', '8', '1', true));
    EXPECT_EQ(port.lastError().rfind("\\\\.\\COM213: ", 0), 0u) << port.lastError();
    EXPECT_NE(port.lastError().find(" (error "), std::string::npos) << port.lastError();
    const auto problem = takeDeviceOpenFailure();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->devicePath, "\\\\.\\COM213");
    EXPECT_NE(problem->error, 0);
    EXPECT_TRUE(problem->remedy.empty());
    EXPECT_EQ(deviceAccessProblemText(*problem), "cannot open \\\\.\\COM213: " + problem->reason);
}

TEST_F(SerialPortWin32, UnsupportedSettingsFailAndLeaveNothingOpen) {
    struct Case {
        int baud;
        char parity, dataBits, stopBits;
    };
    const Case cases[] = {{57600, 'N', '8', '1'}, {115200, 'M', '8', '1'}, {115200, 'N', '6', '1'},
                          {115200, 'N', '8', '3'}, {0, 'N', '8', '1'}};
    for (const Case& c : cases) {
        forgetDeviceOpenFailure();
        // An open port is closed first, so a failed re-open leaves it closed.
        EXPECT_FALSE(port_.open(number_, c.baud, c.parity, c.dataBits, c.stopBits, true)) << c.baud;
        EXPECT_FALSE(port_.isOpen()) << c.baud;
        EXPECT_FALSE(takeDeviceOpenFailure()) << "the device is not touched for " << c.baud;
        ASSERT_TRUE(port_.open(number_, 115200, 'N', '8', '1', true)) << port_.lastError();
    }
    // Every setting the loader's callers use opens.
    for (const int baud : {300, 1200, 2400, 4800, 9600, 19200, 115200})
        EXPECT_TRUE(port_.open(number_, baud, 'n', '8', '1', true)) << baud << ": " << port_.lastError();
    for (const char parity : {'E', 'e', 'O', 'o', 'N'})
        for (const char dataBits : {'7', '8'})
            for (const char stopBits : {'1', '2'})
                EXPECT_TRUE(port_.open(number_, 9600, parity, dataBits, stopBits, true))
                    << parity << dataBits << stopBits << ": " << port_.lastError();
    ASSERT_TRUE(port_.open(number_, 115200, 'N', '8', '1', true)) << port_.lastError();
    EXPECT_EQ(port_.portNumber(), number_);
}

TEST_F(SerialPortWin32, WriteOfNothingIsDoneWithoutIo) {
    SerialPort closed;
    EXPECT_EQ(closed.writeBytes("x", 0, 15000), SerialPort::kStatusDone);
    EXPECT_EQ(port_.writeBytes("x", 0, 15000), SerialPort::kStatusDone);
    EXPECT_EQ(port_.writeString("", 15000), SerialPort::kStatusDone);
    // TearDown's check finds any byte that went out.
}

TEST_F(SerialPortWin32, EveryByteValueGoesOutUnchanged) {
    std::string block;
    for (int i = 0; i < 4000; ++i) block += static_cast<char>(i & 0xFF);
    tell("#script " + hexOf(block) + " -");
    EXPECT_EQ(port_.writeBytes(block.data(), block.size(), SerialPort::kWriteTimeoutMs), SerialPort::kStatusDone)
        << port_.lastError();

    tell("#fill 256 FF");
    ASSERT_TRUE(awaitQueued(256));
    ASSERT_EQ(port_.readAvailable(SerialPort::kNoMaximum), 256u);
    EXPECT_EQ(std::string(port_.readBuffer(), 256), std::string(256, '\xFF'));
}

TEST_F(SerialPortWin32, ReadAvailableTakesAtMostTheMaximumAnd1023) {
    struct Case {
        uint32_t queued;
        uint32_t maximum;
        uint32_t read;
    };
    const Case cases[] = {{500, 1, 1}, {500, 0, 0}, {500, 200, 200}, {1500, SerialPort::kNoMaximum, 1023},
                          {700, SerialPort::kNoMaximum, 700}};
    for (const Case& c : cases) {
        port_.purgeInput();
        tell("#fill " + std::to_string(c.queued) + " 41");
        ASSERT_TRUE(awaitQueued(c.queued)) << port_.bytesAvailable() << " of " << c.queued;
        EXPECT_EQ(port_.readAvailable(c.maximum), c.read) << c.queued << "/" << c.maximum;
        EXPECT_EQ(std::string(port_.readBuffer(), c.read), std::string(c.read, 'A'));
        EXPECT_EQ(port_.bytesAvailable(), c.queued - c.read);
    }
    port_.purgeInput();
    EXPECT_EQ(port_.readAvailable(SerialPort::kNoMaximum), 0u);
    EXPECT_EQ(port_.readByte(), 0);
}

TEST_F(SerialPortWin32, PurgeInputDropsOnlyWhatHasArrived) {
    tell("#fill 100 55");
    ASSERT_TRUE(awaitQueued(100));
    port_.purgeInput();
    EXPECT_EQ(port_.bytesAvailable(), 0u);
    EXPECT_EQ(port_.readAvailable(SerialPort::kNoMaximum), 0u);
    tell("#fill 1 42");
    ASSERT_TRUE(awaitQueued(1));
    ASSERT_EQ(port_.readByte(), 1);
    EXPECT_EQ(port_.readBuffer()[0], '\x42');
}

TEST_F(SerialPortWin32, SendAndAwaitAckTellsAckOtherByteAndSilence) {
    struct Case {
        std::string answer;
        int status;
    };
    const Case cases[] = {{"\x06", SerialPort::kStatusDone},
                          {"\x15", SerialPort::kStatusIoError},
                          {"", SerialPort::kStatusNoAnswer}};
    const std::string frame = frameOf("07.");
    for (const Case& c : cases) {
        tell("#script " + hexOf(frame) + " " + hexOf(c.answer));
        EXPECT_EQ(port_.sendAndAwaitAck(frame), c.status) << hexOf(c.answer);
    }
}

TEST_F(SerialPortWin32, ExchangeAcceptsAGoodReplyAndNaksABadOneThreeTimes) {
    const std::string frame = frameOf("00.0000");
    const std::string good = frameOf("00.0000 READY");
    const std::string bad = frameOf("00.0000 READY", true);
    const std::string ack(1, '\x06');
    const std::string nak(1, '\x15');

    tell("#script " + hexOf(frame) + " " + hexOf(ack + good) + " " + hexOf(ack));
    std::string reply;
    EXPECT_EQ(port_.exchange(frame, reply, 1000, 2000), SerialPort::kStatusDone) << port_.lastError();
    EXPECT_EQ(reply, good);

    tell("#script " + hexOf(frame) + " " + hexOf(ack + bad) + " " + hexOf(nak) + " " + hexOf(bad) + " " +
         hexOf(nak) + " " + hexOf(bad) + " " + hexOf(nak));
    EXPECT_EQ(port_.exchange(frame, reply, 1000, 2000), SerialPort::kStatusIoError);

    // A bad reply, then the good retransmission.
    tell("#script " + hexOf(frame) + " " + hexOf(ack + bad) + " " + hexOf(nak) + " " + hexOf(good) + " " +
         hexOf(ack));
    EXPECT_EQ(port_.exchange(frame, reply, 1000, 2000), SerialPort::kStatusDone);
    EXPECT_EQ(reply, good);
}

TEST_F(SerialPortWin32, CloseReleasesThePortForTheNextOpen) {
    EXPECT_TRUE(port_.close());
    EXPECT_FALSE(port_.isOpen());
    EXPECT_TRUE(port_.close()) << "closing a closed port";
    ASSERT_TRUE(port_.open(number_, 115200, 'N', '8', '1', true)) << port_.lastError();
}

// Last: the peer closes the line for good, as an unplugged USB pad does.
TEST_F(SerialPortWin32, DeviceGoneEndsWritesWithoutHanging) {
    // The line may already be gone while this very write drains.
    int status = port_.writeString("#hangup\n", SerialPort::kWriteTimeoutMs);
    const uint32_t start = tickCount();
    while (status == SerialPort::kStatusDone && elapsedSince(start) < kArrivalLimitMs)
        status = port_.writeBytes("x", 1, 500);
    EXPECT_EQ(status, SerialPort::kStatusIoError) << port_.lastError();
    EXPECT_TRUE(port_.deviceLost()) << port_.lastError();
    EXPECT_EQ(port_.lastError().rfind("\\\\.\\COM", 0), 0u) << port_.lastError();
    // Once lost, the port is not written again and reads find nothing.
    EXPECT_EQ(port_.writeBytes("x", 1, 500), SerialPort::kStatusIoError);
    EXPECT_EQ(port_.readAvailable(SerialPort::kNoMaximum), 0u);
    EXPECT_EQ(port_.sendAndAwaitAck(frameOf("07.")), SerialPort::kStatusIoError);
    EXPECT_TRUE(port_.close());
}

}  // namespace
}  // namespace korvane
