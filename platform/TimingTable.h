#pragma once

#include <cstdint>
#include <string>

namespace korvane {

// The fixed waits and limits of the load procedures, at their original values.
// Only these are scaled by KORVANE_WAIT_SCALE; link and network time-outs are
// protocol constants that stay next to the code that uses them.
namespace procedure_waits {
// After an application install the pad restarts: one long wait, then retries.
inline constexpr uint32_t kApplicationRestartFirstMs = 120000;
inline constexpr uint32_t kApplicationRestartRetryMs = 30000;
inline constexpr int kApplicationRestartRetries = 16;
// The Verifone download program: how long one run may take, and how long a
// run must at least last to count as a load (a quicker end means the pad was
// not waiting for it, whatever the program returned).
inline constexpr uint32_t kEvoloadRunLimitMs = 900000;
inline constexpr uint32_t kEvoloadShortestRunMs = 12000;
inline constexpr uint32_t kArchiveRunLimitMs = 2400000;
inline constexpr uint32_t kArchiveShortestRunMs = 50000;
// The P400 installs and restarts after each archive: 2400 and 1200 pauses of 500 ms.
inline constexpr uint32_t kAdkInstallWaitMs = 2400u * 500u;
inline constexpr uint32_t kXpiInstallWaitMs = 1200u * 500u;
}  // namespace procedure_waits

// Scales procedure waits for tests and the demo. The scale comes from
// $KORVANE_WAIT_SCALE: a number above 0 and at most 1; anything else is
// ignored (and said so in notice()), leaving the original waits.
class TimingTable {
public:
    // Parses a value as $KORVANE_WAIT_SCALE would hold it; null means unset.
    static TimingTable fromValue(const char* value);

    // The process-wide table, read from the environment on first use.
    static const TimingTable& instance();

    double scale() const { return scale_; }
    bool isScaled() const { return scale_ < 1.0; }

    // `originalMs` times the scale, rounded down.
    uint32_t scaled(uint32_t originalMs) const;

    // Empty when waits are not scaled; otherwise one line for the first output
    // line or the window title.
    const std::string& notice() const { return notice_; }

private:
    double scale_ = 1.0;
    std::string notice_;
};

// Shorthand for TimingTable::instance().scaled(originalMs).
uint32_t procedureWait(uint32_t originalMs);

}  // namespace korvane
