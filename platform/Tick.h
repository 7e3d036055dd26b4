#pragma once

#include <chrono>
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

// A pause that other work shares: started before the work, then slept out to
// its full length afterwards, to the microsecond (the tick is too coarse for
// a pause of a few milliseconds that repeats hundreds of times).
using PauseStart = std::chrono::steady_clock::time_point;
PauseStart startPause();
// Sleeps until `milliseconds` after `start`; returns at once when that has passed.
void finishPause(PauseStart start, uint32_t milliseconds);

}  // namespace korvane
