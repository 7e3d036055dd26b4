#include "workflows/IngenicoCaches.h"

#include "platform/Tick.h"
#include "job/DecimalValue.h"

namespace korvane {

bool CachedImage::isComplete() const {
    if (image.empty()) return false;
    const int announced = decimalValue(announcedSize);
    return announced <= 0 || image.size() >= static_cast<size_t>(announced);
}

void CachedImage::forget() {
    image.clear();
    version.clear();
    fileName.clear();
    variantCode = 0;
}

bool SecurityFileCache::isComplete() const {
    return !secbin.empty() && !secbin21.empty() && !secbinClear.empty() && !secbinTetra.empty();
}

void IngenicoCaches::expireIfStale(uint32_t& cacheStamp) {
    const uint32_t now = tickCount();
    if (static_cast<uint32_t>(now - cacheStamp) <= kLifetimeMs) return;
    images.application.forget();
    images.usbConfig.forget();
    images.serialConfig.forget();
    securityFiles.secbin.clear();
    securityFiles.secbin21.clear();
    securityFiles.secbinClear.clear();
    cacheStamp = now;
}

IngenicoCaches& ingenicoCaches() {
    static IngenicoCaches caches;
    return caches;
}

bool cacheServes(const CachedImage& cached, int lastLoadedVariant, int variantCode) {
    return cached.isComplete() && cached.variantCode == variantCode && lastLoadedVariant == variantCode;
}

}  // namespace korvane
