#pragma once

#include <cstdint>
#include <functional>

namespace korvane {

// The core's waits call pumpMessages() so that a wait on the user-interface
// thread keeps the windows alive. The GUI installs a hook that processes its
// pending events; the hook runs only on the thread that installed it, so on a
// worker thread (or without a GUI) pumping finds nothing, as on the original.
using MessagePumpHook = std::function<void()>;

// Installs `hook` for the calling thread; an empty hook removes it.
void setMessagePumpHook(MessagePumpHook hook);

// Runs the hook when called on the thread that installed it; else does nothing.
void pumpMessages();

// Sleeps `durationMs` in slices of at most 10 ms, pumping after each, so a
// fixed pause on the user-interface thread keeps the windows alive.
void sleepPumping(uint32_t durationMs);

}  // namespace korvane
