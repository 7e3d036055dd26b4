#pragma once

#include <cstdint>

namespace korvane {

// A 32-bit millisecond counter that wraps after about 49.7 days, like the
// original's system tick count. Every time-out in the core is measured with it.
uint32_t tickCount();

// Elapsed milliseconds from `start` to `now`. When `now` is numerically smaller
// the counter is taken to have wrapped, and the result is one smaller than the
// plain unsigned difference (the original's rule, kept so waits end alike).
uint32_t elapsedBetween(uint32_t start, uint32_t now);

// Elapsed milliseconds since `start`, by the rule above.
uint32_t elapsedSince(uint32_t start);

void sleepMs(uint32_t milliseconds);

}  // namespace korvane
