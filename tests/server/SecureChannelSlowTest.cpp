#include "server/SecureChannel.h"

#include "platform/Tick.h"
#include "tests/server/TlsTestServer.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

// The handshake's own 10-second wait, so this one takes that long.
TEST(SecureChannelSlow, APeerThatAcceptsTcpButNeverAnswersTheHandshakeFailsAfterTenSeconds) {
    ASSERT_TRUE(SecurityInterface::processWide().Initialise());
    test::SilentListener silent;
    SecureChannel channel;
    const uint32_t start = tickCount();
    EXPECT_FALSE(channel.Open("127.0.0.1", silent.port(), 10000));
    const uint32_t elapsed = elapsedSince(start);
    EXPECT_EQ(channel.LastErrorText(), "Server disconnected unexpectedly.");
    EXPECT_GE(elapsed, SecureChannel::kHandshakeTimeoutMs);
    EXPECT_LT(elapsed, 30000u);
    EXPECT_FALSE(channel.isOpen());
}

}  // namespace
}  // namespace korvane
