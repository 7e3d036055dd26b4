#include "platform/Tick.h"

#include <ctime>
#include <thread>

namespace korvane {

uint32_t tickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

uint32_t elapsedBetween(uint32_t start, uint32_t now) {
    if (now < start) return now - start - 1u;
    return now - start;
}

uint32_t elapsedSince(uint32_t start) { return elapsedBetween(start, tickCount()); }

void sleepMs(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000u), static_cast<long>(milliseconds % 1000u) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

PauseStart startPause() { return std::chrono::steady_clock::now(); }

void finishPause(PauseStart start, uint32_t milliseconds) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(milliseconds));
}

}  // namespace korvane
