#pragma once

#include <atomic>

namespace korvane {

// Set by a progress window's Cancel on the user-interface thread, polled by
// the long loops of the load on the worker thread between their steps, and
// cleared whenever a progress window is constructed, so every load starts
// without it.
extern std::atomic<bool> cancelRequested;

}  // namespace korvane
