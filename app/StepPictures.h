#pragma once

#include <QPixmap>

namespace korvane {

inline constexpr int kStepPictureWidth = 180;
inline constexpr int kStepPictureHeight = 76;

// The picture beside step `index` (0 to 9) of the download-steps window: the
// pad's screen as the operator will see it at that step, drawn here rather
// than taken from the pad maker's screenshots.
QPixmap stepPicture(int index);

}  // namespace korvane
