#pragma once

#include "job/ByteArray.h"

#include <cstdint>
#include <string>

namespace korvane {

// One bundle fetched from the load server, with the version the server gave.
struct CachedBundle {
    ByteArray image;
    std::string version;

    void forget() {
        image.clear();
        version.clear();
    }
};

// The bundles of one hardware generation of the Equinox L5300.
struct EquinoxGeneration {
    CachedBundle fpe;
    CachedBundle config;
};

// The Equinox family's downloads. Process-wide: they survive from one press
// to the next. Touched by one thread at a time (the handler before the worker,
// the worker while it runs).
struct EquinoxCaches {
    EquinoxGeneration pci2;
    EquinoxGeneration pci3;

    // Past 12 hours since `cacheStamp` (unsigned tick difference): both
    // configuration bundles are forgotten and the stamp restarts. The FPE
    // bundles are kept for the whole run.
    void expireIfStale(uint32_t& cacheStamp);

    static constexpr uint32_t kLifetimeMs = 43200000;
};

EquinoxCaches& equinoxCaches();

}  // namespace korvane
