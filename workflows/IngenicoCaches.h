#pragma once

#include "job/ByteArray.h"

#include <cstdint>
#include <string>

namespace korvane {

// One image fetched from the load server, kept for the next loads.
struct CachedImage {
    ByteArray image;
    std::string version;
    std::string fileName;       // the name the server gave with it, which the pad stores it under
    std::string announcedSize;  // decimal, as the server announced it
    int variantCode = 0;        // the model variant it was fetched for; 0: none

    // The image may stand in for a fetch: not empty and at least as long as announced.
    bool isComplete() const;
    // The image, its two names and its variant; the announced size stays, the server said it.
    void forget();
};

struct IngenicoCacheSet {
    CachedImage application;  // shared by every Ingenico model
    CachedImage usbConfig;
    CachedImage serialConfig;
};

// The four named files of the forms step; reused by every Ingenico model.
struct SecurityFileCache {
    ByteArray secbin;       // "Secbin.pgz" as the server has it; no step writes it
    ByteArray secbin21;     // "Secbin_21.pgz": the pads' "Secbin.pgz" normally
    ByteArray secbinClear;  // "SECBIN_CLEAR.PGZ": the pads' "Secbin.pgz" with the BIN whitelist off
    ByteArray secbinTetra;  // "SECBIN_TETRA.PGZ": "CB5BTSECBIN.PGZ" of the Lane, Move and Link pads

    bool isComplete() const;
};

// The Ingenico family's downloads. Process-wide: loading several pads of one
// model fetches each image once. Touched by one thread at a time (the handler
// before and after the worker, the worker while it runs).
struct IngenicoCaches {
    IngenicoCacheSet images;
    SecurityFileCache securityFiles;

    // Past 12 hours since `cacheStamp` (unsigned tick difference): forgets the
    // images, their names and three of the security files, and restarts the
    // stamp. The Tetra file outlives it; as the set is then incomplete, the next
    // load fetches all four again anyway.
    void expireIfStale(uint32_t& cacheStamp);

    static constexpr uint32_t kLifetimeMs = 43200000;
};

IngenicoCaches& ingenicoCaches();

// Whether a load of `variantCode` may take `cached` instead of fetching it:
// whole, fetched for that very variant, and that variant loaded last. The
// last load alone is not enough: a load of another model that fetched and then
// failed has refilled the caches with its own images.
bool cacheServes(const CachedImage& cached, int lastLoadedVariant, int variantCode);

}  // namespace korvane
