#pragma once

#include <optional>

namespace korvane {

// The scrolling rules of the download-steps window, kept apart from the
// widgets so they can be checked on their own. All divisions are integer ones.
inline constexpr int kStepsContentHeight = 847;

// The scroll requests a vertical scroll bar makes.
enum class ScrollCode { lineUp, lineDown, pageUp, pageDown, thumbPosition, thumbTrack, top, bottom, endScroll };

struct StepsScrollBar {
    int maximum;   // range is 0 to maximum
    int pageSize;  // one tenth of the range
    bool enabled;  // visible in any case, disabled when nothing can scroll
};

// The scroll bar for a client area `clientHeight` high.
StepsScrollBar stepsScrollBar(int clientHeight);

// How far the content moves for `code` from offset `offset` (a move may be 0,
// and is still followed by setting the thumb to the offset); nothing when the
// request does nothing at all. `thumbPosition` counts only for thumbPosition
// (the thumb let go).
std::optional<int> stepsScrollMove(ScrollCode code, int clientHeight, int offset, int thumbPosition);

// The window's height when it opens: 100 pixels shorter when the content
// would not fit the work area, and never taller than the work area, so that
// its buttons stay on the screen.
int stepsWindowHeight(int templateHeight, int workAreaHeight);

}  // namespace korvane
