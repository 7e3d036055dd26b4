#include "platform/Tick.h"

#include <thread>

namespace korvane {

uint32_t elapsedBetween(uint32_t start, uint32_t now) {
    if (now < start) return now - start - 1u;
    return now - start;
}

uint32_t elapsedSince(uint32_t start) { return elapsedBetween(start, tickCount()); }

PauseStart startPause() { return std::chrono::steady_clock::now(); }

void finishPause(PauseStart start, uint32_t milliseconds) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(milliseconds));
}

}  // namespace korvane
