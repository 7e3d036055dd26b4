#include "platform/MessagePump.h"
#include "platform/Tick.h"

#include <gtest/gtest.h>

#include <thread>

namespace korvane {
namespace {

TEST(MessagePump, TheHookRunsOnlyOnItsThreadAndThroughoutAPumpingSleep) {
    int pumped = 0;
    setMessagePumpHook([&pumped] { ++pumped; });
    std::thread([] { pumpMessages(); }).join();
    EXPECT_EQ(pumped, 0) << "another thread has nothing to pump";

    const uint32_t start = tickCount();
    sleepPumping(50);
    EXPECT_GE(elapsedSince(start), 50u);
    EXPECT_GE(pumped, 2) << "in slices, not once at the end";

    pumped = 0;
    sleepPumping(0);
    EXPECT_EQ(pumped, 0);
    setMessagePumpHook({});
    pumpMessages();
    EXPECT_EQ(pumped, 0);
}

}  // namespace
}  // namespace korvane
