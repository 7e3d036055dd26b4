#pragma once

class QWidget;

namespace korvane {

// Puts `window` over `owner`'s window (centred, and kept above it by the
// window system). Our windows are never Qt children of the main window:
// disabling the main window during a load would disable them too.
void placeOver(QWidget* window, QWidget* owner);

}  // namespace korvane
