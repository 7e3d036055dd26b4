#pragma once

namespace korvane {

class MainWindow;

// Gives the window's model buttons their loads: a press runs what its button
// stands for with the window's controls, the desktop's operator and the two
// values the window keeps between loads. The press returns when the load
// ended; the window stays disabled meanwhile under the progress window.
void connectModelButtons(MainWindow& window);

}  // namespace korvane
