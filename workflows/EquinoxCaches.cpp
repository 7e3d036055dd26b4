#include "workflows/EquinoxCaches.h"

#include "platform/Tick.h"

namespace korvane {

void EquinoxCaches::expireIfStale(uint32_t& cacheStamp) {
    const uint32_t now = tickCount();
    if (static_cast<uint32_t>(now - cacheStamp) <= kLifetimeMs) return;
    pci2.config.forget();
    pci3.config.forget();
    cacheStamp = now;
}

EquinoxCaches& equinoxCaches() {
    static EquinoxCaches caches;
    return caches;
}

}  // namespace korvane
