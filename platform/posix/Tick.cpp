#include "platform/Tick.h"

#include <ctime>

namespace korvane {

uint32_t tickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void sleepMs(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000u), static_cast<long>(milliseconds % 1000u) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

}  // namespace korvane
