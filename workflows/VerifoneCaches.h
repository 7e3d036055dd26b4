#pragma once

#include "workflows/EquinoxCaches.h"

#include <cstdint>

namespace korvane {

// The Verifone downloads. Process-wide: they survive from one press to the
// next. Touched by one thread at a time (the handler before the worker, the
// worker while it runs).
struct VerifoneCaches {
    CachedBundle vx805;  // fetched from the load server; shared by both Vx805 buttons
    CachedBundle p400;   // read from the package file; its version stays empty

    // Past 12 hours since `cacheStamp` (unsigned tick difference): the
    // family's bundle is forgotten and the stamp restarts.
    static void expireIfStale(CachedBundle& bundle, uint32_t& cacheStamp);

    static constexpr uint32_t kLifetimeMs = 43200000;
};

VerifoneCaches& verifoneCaches();

}  // namespace korvane
