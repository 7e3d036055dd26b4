#include "workflows/VerifoneCaches.h"

#include "platform/Tick.h"

namespace korvane {

void VerifoneCaches::expireIfStale(CachedBundle& bundle, uint32_t& cacheStamp) {
    const uint32_t now = tickCount();
    if (static_cast<uint32_t>(now - cacheStamp) <= kLifetimeMs) return;
    bundle.forget();
    cacheStamp = now;
}

VerifoneCaches& verifoneCaches() {
    static VerifoneCaches caches;
    return caches;
}

}  // namespace korvane
