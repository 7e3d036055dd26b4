#pragma once

#include <atomic>
#include <cstddef>

namespace korvane {

// What the pad link did with a run of bytes.
enum class LinkTraceEvent {
    sent,       // written to the port
    received,   // read from the port
    discarded,  // thrown away by a purge of the receive side, unread
};

// A process-wide observer of every byte on the pad link (the technician's
// --trace; the tool writes no log file). It may be called from whichever
// thread owns the port, so it must be safe to call from any thread.
using LinkTraceHook = void (*)(LinkTraceEvent event, const char* bytes, size_t length);

namespace detail {
inline std::atomic<LinkTraceHook> linkTraceHook{nullptr};
}

// Installs `hook`; null switches tracing off.
inline void setLinkTraceHook(LinkTraceHook hook) { detail::linkTraceHook.store(hook, std::memory_order_release); }

inline bool linkTraceEnabled() { return detail::linkTraceHook.load(std::memory_order_relaxed) != nullptr; }

// Reports a run of bytes; with no hook installed this is one load and a test.
inline void traceLink(LinkTraceEvent event, const char* bytes, size_t length) {
    if (const LinkTraceHook hook = detail::linkTraceHook.load(std::memory_order_acquire)) hook(event, bytes, length);
}

}  // namespace korvane
