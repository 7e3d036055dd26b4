#include "platform/Tick.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(Tick, ElapsedTimeFollowsTheWrapRule) {
    struct Case {
        uint32_t start, now, elapsed;
    };
    const Case cases[] = {
        {1000, 1000, 0},
        {1000, 1500, 500},
        {0, 0xFFFFFFFFu, 0xFFFFFFFFu},
        // The counter wrapped: one less than the plain difference.
        {0xFFFFFFF0u, 0x10u, 0x1Fu},
        {0xFFFFFFFFu, 0u, 0u},
        {2, 1, 0xFFFFFFFEu},
    };
    for (const Case& c : cases) EXPECT_EQ(elapsedBetween(c.start, c.now), c.elapsed) << c.start << " -> " << c.now;
}

TEST(Tick, CounterMovesWithSleep) {
    const uint32_t start = tickCount();
    sleepMs(20);
    EXPECT_GE(elapsedSince(start), 20u);
}

}  // namespace
}  // namespace korvane
