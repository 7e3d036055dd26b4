#pragma once

namespace korvane {

struct LoadStation;

// The "Equinox L5300 - Load FPE and Forms" button: identifies the pad (PCI2
// "H" or PCI3 "K"), registers the load, checks the pad's end-to-end keys and
// runs the Equinox worker; shows the outcome whatever it is. Runs on the
// user-interface thread until the load ended.
void loadEquinox(LoadStation& station);

}  // namespace korvane
