#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace korvane::padsim {

// Paces a pseudo-terminal as a cable of `baud` (10 bits a byte): bytes that
// reach the line from `from` on are through only when the line has been free
// for their whole wire time. Baud 0: no pacing. For the answering thread only.
class LinePacer {
public:
    using Clock = std::chrono::steady_clock;

    LinePacer(uint32_t baud, const std::atomic<bool>& stopping) : baud_(baud), stopping_(stopping) {}

    void pace(size_t bytes, Clock::time_point from) {
        if (baud_ == 0) return;
        const auto wire = std::chrono::nanoseconds(static_cast<long long>(bytes) * 10 * 1000000000LL / baud_);
        wireFree_ = std::max(wireFree_, from) + std::chrono::duration_cast<Clock::duration>(wire);
        pause(wireFree_ - Clock::now());
    }

    // Sleeps in short steps, so that stopping is answered quickly.
    void pause(Clock::duration duration) const {
        const Clock::time_point until = Clock::now() + duration;
        while (!stopping_ && Clock::now() < until)
            std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(5)));
    }

private:
    uint32_t baud_;
    const std::atomic<bool>& stopping_;
    Clock::time_point wireFree_{};
};

}  // namespace korvane::padsim
