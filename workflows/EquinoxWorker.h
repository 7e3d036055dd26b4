#pragma once

#include <string>

namespace korvane {

class EquinoxPad;
struct EquinoxGeneration;
struct InstallationConfig;
struct LoadJob;

// What tells the two hardware generations of the L5300 apart.
struct EquinoxVariant {
    int variantCode;
    const char* letter;          // answered to "T"
    const char* loadIdentifier;  // the model the load server knows, and the configuration's package
    const char* fpePackage;      // the FPE bundle's package
    bool LoadJob::*fpeNeeded;
    bool LoadJob::*configMissing;
    EquinoxGeneration& (*caches)();
};

// The generation of a `padModel` holding the "T" letter ("H" or "K"), or null.
const EquinoxVariant* equinoxVariantOfModel(const std::string& padModel);
// The generation of a variant code (23 or 24), or null.
const EquinoxVariant* equinoxVariantOfCode(int variantCode);

// Worker exit codes; the handler reads none of them, only `succeeded`.
inline constexpr int kEquinoxUnpackFailed = 2;
inline constexpr int kEquinoxLoadFailed = 3;  // after the failure was reported to the server
inline constexpr int kEquinoxUnknownVariant = 100;
inline constexpr int kEquinoxRetrievalFailed = 101;

// The long part of an Equinox load, on the worker thread with its own pad
// object: the bundles the job needs from the server into the caches, the FPE
// bundle when the handler asked for it, then the configuration bundle with
// the forms, each by the pad's packing list. Reports the outcome itself and
// sets `succeeded` last, once the server took the report.
int equinoxWorker(LoadJob& job, const InstallationConfig& installation);

// Fetches this generation's FPE bundle (unless already cached) and its
// configuration bundle (when the job says it is missing) into the caches.
// 0, kEquinoxRetrievalFailed with `errorText`, or kEquinoxUnknownVariant.
// Leaves `padModel` holding the load identifier.
int retrieveEquinoxBundles(EquinoxPad& pad);

}  // namespace korvane
