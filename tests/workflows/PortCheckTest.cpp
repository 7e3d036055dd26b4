#include "pad/SerialPort.h"
#include "tests/support/TempDir.h"
#include "tools/padpeer/PtyPeer.h"
#include "job/DecimalValue.h"
#include "workflows/PortCheck.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace korvane {
namespace {

TEST(DecimalValueTest, ConvertsAsTheOperatorsFieldIsRead) {
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"7", 7}, {"  12", 12}, {"+3", 3}, {"-4", -4}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"-", 0},
        {"256", 256}, {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1},
    };
    for (const auto& c : cases) EXPECT_EQ(decimalValue(c.text), c.value) << '"' << c.text << '"';
}

class PortCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        pad_.linkAs(dir_.path(), 5);
        ASSERT_EQ(::symlink((dir_.path() + "/missing-device").c_str(), dir_.file("com7").c_str()), 0);
        ::setenv("KORVANE_DEVICE_DIR", dir_.path().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KORVANE_DEVICE_DIR"); }

    test::TempDir dir_;
    padpeer::PtyPeer pad_;
};

TEST_F(PortCheckTest, RangeIsCheckedBeforeAnyDeviceAndFailuresLeaveThePortClosed) {
    const struct {
        int port;
        bool opens;
        const char* message;
    } cases[] = {
        {0, false, "Com Port Out of Range(1-255)."},
        {256, false, "Com Port Out of Range(1-255)."},
        {-1, false, "Com Port Out of Range(1-255)."},
        {7, false, "Failed on Com Port Access."},
        {5, true, ""},
    };
    for (const auto& c : cases) {
        SerialPort port;
        std::string error;
        EXPECT_EQ(checkAndOpenPort(port, c.port, kPadBaudRate, error), c.opens) << c.port;
        EXPECT_EQ(port.isOpen(), c.opens) << c.port;
        EXPECT_EQ(error, c.message) << c.port;
    }
}

TEST_F(PortCheckTest, ReopenClosesTheOldPortEvenWhenTheNewNumberIsRefused) {
    SerialPort port;
    std::string error;
    ASSERT_TRUE(checkAndOpenPort(port, 5, kPadBaudRate, error));
    EXPECT_FALSE(reopenLoadPort(port, 0, error));
    EXPECT_EQ(error, "Com Port Out of Range(1-255).");
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(reopenLoadPort(port, 5, error));
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.portNumber(), 5);
}

}  // namespace
}  // namespace korvane
