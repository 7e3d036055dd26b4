#include "workflows/IngenicoWorker.h"

#include "pad/RbaPad.h"
#include "pad/SerialPort.h"
#include "platform/Tick.h"
#include "platform/TimingTable.h"
#include "server/OutcomeCodes.h"
#include "workflows/IngenicoCaches.h"
#include "job/LoadJob.h"
#include "workflows/PortCheck.h"

namespace korvane {
namespace {

constexpr int kApplicationAttempts = 4;

// Fetches the job's padModel plus `suffix` into `cache`. A failed fetch leaves
// the cache empty: a full-length image that failed its digest must never pass
// for a cached one at the next load.
bool fetchIntoCache(RbaPad& pad, CachedImage& cache, const std::string& suffix, const char* failureLeadIn) {
    LoadJob& job = *pad.owner();
    const std::string model = job.deviceInfo.padModel;
    job.deviceInfo.padModel = model + suffix;
    job.downloadTarget = &cache.image;
    job.fetchedSize.clear();
    const bool fetched = pad.FetchApplication(false);
    job.downloadTarget = nullptr;
    job.deviceInfo.padModel = model;
    if (!fetched) {
        if (!job.fetchedSize.empty()) cache.announcedSize = job.fetchedSize;
        cache.forget();
        job.errorText = failureLeadIn + pad.LastErrorText();
        // The load is registered, so its failure is reported; a cancel has
        // already said what it was.
        if (job.loadReport.outcome.empty()) job.loadReport.outcome = kOutcomeFailDownloadFiles;
        return false;
    }
    cache.version = job.fetchedVersion;
    cache.fileName = job.fetchedInfoFileName;
    cache.announcedSize = job.fetchedSize;
    cache.variantCode = job.deviceInfo.variantCode;
    return true;
}

// The pad installs the application and restarts: reach it again on its port.
bool awaitRestart(RbaPad& pad, LoadJob& job) {
    using namespace procedure_waits;
    job.serialPort->close();
    sleepMs(procedureWait(kApplicationRestartFirstMs));
    for (int attempt = 0; attempt < kApplicationRestartRetries; ++attempt) {
        sleepMs(procedureWait(kApplicationRestartRetryMs));
        if (job.serialPort->open(job.comPort, kPadBaudRate, 'N', '8', '1', true) && pad.resetAndAwait()) return true;
        job.serialPort->close();
    }
    return false;
}

}  // namespace

std::string connectionSuffix(const LoadJob& job) { return job.usbConnection ? kOutcomeSuffixUsb : kOutcomeSuffixSerial; }

int retrievePackages(RbaPad& pad) {
    LoadJob& job = *pad.owner();
    IngenicoCacheSet& caches = ingenicoCaches().images;
    if (job.needApplication) {
        if (!fetchIntoCache(pad, caches.application, job.uppVariant ? "_KVS_UPP" : "_RBA",
                            "Error Returned trying to Retrieve Remote Application:\r\n"))
            return kRetrievalFailed;
        job.needApplication = false;
    }
    if (job.usbConnection && job.needUsbConfig) {
        if (!fetchIntoCache(pad, caches.usbConfig, "_KVS_USB", "Error Returned trying to Retrieve Remote Config Bundle:\r\n"))
            return kRetrievalFailed;
        job.needUsbConfig = false;
    }
    if (!job.usbConnection && job.needSerialConfig) {
        if (!fetchIntoCache(pad, caches.serialConfig, "_KVS_SERIAL",
                            "Error Returned trying to Retrieve Remote Config Bundle:\r\n"))
            return kRetrievalFailed;
        job.needSerialConfig = false;
    }
    return 0;
}

bool retrieveSecBins(const InstallationConfig& installation, const ProgressWindowHandle& progressWindow,
                     std::string& errorText) {
    SecurityFileCache& files = ingenicoCaches().securityFiles;
    if (files.isComplete()) return true;
    LoadJob job;
    job.progressWindow = progressWindow;
    RbaPad pad(installation, &job);
    struct Fetch {
        const char* status;  // null: the previous text stays
        const char* name;
        ByteArray& into;
    };
    const Fetch fetches[] = {
        {"Sec Bin Retrieval in Progress... ", "Secbin.pgz", files.secbin},
        {"Sec Bin 21 Retrieval in Progress... ", "Secbin_21.pgz", files.secbin21},
        {nullptr, "SECBIN_CLEAR.PGZ", files.secbinClear},
        {"Sec Bin Tetra Retrieval in Progress... ", "SECBIN_TETRA.PGZ", files.secbinTetra},
    };
    for (const Fetch& fetch : fetches) {
        if (fetch.status != nullptr) job.postStatus(fetch.status);
        job.downloadTarget = &fetch.into;
        if (!pad.FetchFile(fetch.name)) {
            // Half a file, or one that failed its digest, is no cached file.
            fetch.into.clear();
            errorText = pad.LastErrorText();
            return false;
        }
    }
    return true;
}

int ingenicoWorker(LoadJob& job, const InstallationConfig& installation) {
    RbaPad pad(installation, &job);
    const std::string suffix = connectionSuffix(job);
    job.postStatus("Connecting to server to retrieve application... ");
    if (const int result = retrievePackages(pad); result != 0) return result;

    const IngenicoCacheSet& caches = ingenicoCaches().images;
    const CachedImage& config = job.usbConnection ? caches.usbConfig : caches.serialConfig;
    job.loadReport.reportedAppVersion = caches.application.version;
    job.loadReport.appInfoFileName = caches.application.fileName;
    job.applicationImage = &caches.application.image;
    job.loadReport.reportedConfigVersion = config.version;
    job.loadReport.configInfoFileName = config.fileName;
    job.configImage = &config.image;

    pad.showPrompt("File load in progress.", "Please wait...");
    if (job.deviceInfo.padAppVersion != job.loadReport.reportedAppVersion || job.configOnly) {
        if (!job.configOnly) {
            std::string error;
            bool written = false;
            for (int attempt = 0; attempt < kApplicationAttempts && !written; ++attempt)
                written = pad.loadFile(*job.applicationImage, job.loadReport.appInfoFileName, error);
            if (!written) {
                job.postStatus("Failed to load RBA file after.\r\n" + error);
                job.loadReport.outcome = kOutcomeFailLoadRba + suffix;
                return 0;
            }
            if (!awaitRestart(pad, job)) {
                job.errorText = "Could not reopen port after restart.";
                job.loadReport.outcome = std::string(kOutcomeFailAfterReboot) + suffix + kOutcomeSuffixPortNotOpen;
                return 0;
            }
        }
        if (!job.skipConfigLoad) {
            pad.showPrompt("Config load in progress.", "Please wait...");
            std::string error;
            if (!pad.loadFile(*job.configImage, job.loadReport.configInfoFileName, error)) {
                job.postStatus("Failed to load Config bundle.\r\n" + error);
                job.loadReport.outcome = kOutcomeFailLoadConfig + suffix;
                return 0;
            }
        }
    }
    job.succeeded = true;
    return 0;
}

}  // namespace korvane
