#pragma once

#include "job/ProgressWindowHandle.h"

#include <string>

namespace korvane {

class RbaPad;
struct InstallationConfig;
struct LoadJob;

inline constexpr int kRetrievalFailed = 101;

// The long part of an Ingenico load, on the worker thread with its own pad
// object: the images the job needs from the server into the caches, then the
// application (four attempts), the wait for the pad's restart and the
// configuration bundle. Sets `succeeded` last; on failure leaves `errorText`
// and `outcome`. Returns 0, or kRetrievalFailed when a fetch failed.
int ingenicoWorker(LoadJob& job, const InstallationConfig& installation);

// Fetches the application and the configuration bundle of the connection the
// job's need flags ask for, into the process-wide caches. 0 or kRetrievalFailed
// with `errorText` set.
int retrievePackages(RbaPad& pad);

// The four security files into their cache, unless all four are there.
// False with the server client's text in `errorText`.
bool retrieveSecBins(const InstallationConfig& installation, const ProgressWindowHandle& progressWindow,
                     std::string& errorText);

// "-USB" or "-SERIAL", as the job's connection is.
std::string connectionSuffix(const LoadJob& job);

}  // namespace korvane
