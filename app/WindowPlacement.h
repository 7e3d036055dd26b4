#pragma once

class QWidget;

namespace korvane {

// Puts `window` over `owner`'s window (centred on it with the window's own
// size, and kept above it by the window system). A window not yet sized
// takes its size hint first. Our windows are never Qt children of the main
// window: disabling the main window during a load would disable them too.
void placeOver(QWidget* window, QWidget* owner);

}  // namespace korvane
