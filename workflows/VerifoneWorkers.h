#pragma once

namespace korvane {

struct InstallationConfig;
struct LoadJob;

// Worker exit codes; the handler reads none of them, only `succeeded`.
inline constexpr int kVerifonePackageMissing = 1;      // P400: no package file
inline constexpr int kVerifonePackageUnreadable = 2;   // P400: the package file could not be read
inline constexpr int kVerifoneUnpackFailed = 2;
inline constexpr int kVerifoneLoadFailed = 3;          // after the failure was reported to the server
inline constexpr int kVerifoneRetrievalFailed = 101;   // Vx805: the bundle could not be fetched

// The P400 package, read from the working directory (never from the server).
inline constexpr const char* kP400PackageFile = "KVP400SILENTD41.pkg";

// The long part of a Vx805 load (both buttons), on the worker thread with its
// own pad object: the bundle from the load server unless cached, its files
// and one run of the download program. Reports the outcome itself and sets
// `succeeded` last, once the server took a "LOADED" report.
int vx805Worker(LoadJob& job, const InstallationConfig& installation);

// The long part of a P400 load: the package file unless cached, its files,
// the ADK and the XPI archive runs with their install waits. Reports as the
// Vx805 worker does.
int p400Worker(LoadJob& job, const InstallationConfig& installation);

}  // namespace korvane
