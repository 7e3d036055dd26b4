#include "platform/TimingTable.h"

#include <cmath>
#include <cstdlib>

namespace korvane {

TimingTable TimingTable::fromValue(const char* value) {
    TimingTable table;
    if (value == nullptr) return table;
    char* end = nullptr;
    const double parsed = std::strtod(value, &end);
    const bool wholeText = end != value && *end == '\0';
    if (!wholeText || !std::isfinite(parsed) || parsed <= 0.0 || parsed > 1.0) {
        table.notice_ = std::string("KORVANE_WAIT_SCALE=\"") + value +
                        "\" ignored (expected a number above 0 and at most 1); procedure waits are not scaled";
        return table;
    }
    table.scale_ = parsed;
    if (table.isScaled()) table.notice_ = std::string("procedure waits scaled by ") + value + " (KORVANE_WAIT_SCALE)";
    return table;
}

const TimingTable& TimingTable::instance() {
    static const TimingTable table = fromValue(std::getenv("KORVANE_WAIT_SCALE"));
    return table;
}

uint32_t TimingTable::scaled(uint32_t originalMs) const {
    if (!isScaled()) return originalMs;
    return static_cast<uint32_t>(std::floor(static_cast<double>(originalMs) * scale_));
}

uint32_t procedureWait(uint32_t originalMs) { return TimingTable::instance().scaled(originalMs); }

}  // namespace korvane
