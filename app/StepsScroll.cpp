#include "app/StepsScroll.h"

#include <algorithm>

namespace korvane {

StepsScrollBar stepsScrollBar(int clientHeight) {
    const int range = clientHeight < kStepsContentHeight ? kStepsContentHeight - clientHeight : 0;
    return {range, range / 10, range > 0};
}

std::optional<int> stepsScrollMove(ScrollCode code, int clientHeight, int offset, int thumbPosition) {
    const int range = kStepsContentHeight - clientHeight;
    const auto up = [&](int step) -> std::optional<int> {
        if (offset <= 0) return std::nullopt;
        return -std::min(step, offset);
    };
    const auto down = [&](int step) -> std::optional<int> {
        if (offset >= range) return std::nullopt;
        return std::min(step, range - offset);
    };
    switch (code) {
    case ScrollCode::lineUp: return up(range / 100);
    case ScrollCode::lineDown: return down(range / 100);
    case ScrollCode::pageUp: return up(range / 10);
    case ScrollCode::pageDown: return down(range / 10);
    case ScrollCode::thumbPosition: return thumbPosition - offset;
    default: return std::nullopt;
    }
}

int stepsWindowHeight(int templateHeight, int workAreaHeight) {
    int height = templateHeight;
    if (kStepsContentHeight >= workAreaHeight) height -= 100;
    return std::min(height, workAreaHeight);
}

}  // namespace korvane
