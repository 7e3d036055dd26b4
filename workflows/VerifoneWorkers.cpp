#include "workflows/VerifoneWorkers.h"

#include "pad/VerifonePad.h"
#include "platform/WorkingFiles.h"
#include "server/OutcomeCodes.h"
#include "workflows/OutcomeReport.h"
#include "workflows/VerifoneCaches.h"
#include "job/LoadJob.h"

namespace korvane {
namespace {

// The pad step is over: "LOADED" with `succeeded` once the server took the
// report, or `failureOutcome` reported.
int reportPadStep(VerifonePad& pad, LoadJob& job, bool loaded, const char* failureOutcome) {
    job.loadReport.outcome = loaded ? kOutcomeLoaded : failureOutcome;
    if (!pad.ReportLoadStatus()) {
        job.errorText = kSendLoadIdentifierFailed + pad.LastErrorText();
        return kVerifoneLoadFailed;
    }
    if (!loaded) return kVerifoneLoadFailed;
    job.succeeded = true;
    return 0;
}

bool unpack(VerifonePad& pad, LoadJob& job, const CachedBundle& cache) {
    job.loadReport.reportedAppVersion = cache.version;
    job.applicationImage = &cache.image;
    job.configImage = &cache.image;
    if (pad.unpackBundle()) return true;
    job.errorText = "Error trying to unpack load:\r\n" + pad.LastErrorText();
    return false;
}

}  // namespace

int vx805Worker(LoadJob& job, const InstallationConfig& installation) {
    job.postStatus("Connecting to Server to retrieve for Application ... ");
    VerifonePad pad(installation, &job);
    job.postStatus("Connecting to server to retrieve application... ");
    CachedBundle& cache = verifoneCaches().vx805;

    if (job.needRemoteRetrieval) {
        job.downloadTarget = &cache.image;
        const bool fetched = pad.FetchApplication(false);
        job.downloadTarget = nullptr;
        if (!fetched) {
            // Half a bundle must never pass for a cached one at the next press.
            cache.forget();
            job.errorText = "Error Returned trying to retrieve remote load:\r\n" + pad.LastErrorText();
            job.loadReport.outcome = kOutcomeFailDownloadFiles;
            return kVerifoneRetrievalFailed;
        }
        cache.version = job.fetchedVersion;
        job.needRemoteRetrieval = false;
    }

    if (!unpack(pad, job, cache)) return kVerifoneUnpackFailed;
    return reportPadStep(pad, job, pad.loadEvoload() == 2, kOutcomeFailLoadCommServer);
}

int p400Worker(LoadJob& job, const InstallationConfig& installation) {
    job.postStatus("Connecting to Server to retrieve for Application ... ");
    VerifonePad pad(installation, &job);
    job.postStatus("Connecting to server to retrieve application... ");
    CachedBundle& cache = verifoneCaches().p400;

    if (job.needRemoteRetrieval) {
        cache.forget();
        if (!fileExists(kP400PackageFile)) {
            job.loadReport.resultText = "Could not find upgrade file.";
            job.loadReport.outcome = kOutcomeFailDownloadFiles;
            return kVerifonePackageMissing;
        }
        std::string error;
        if (!readWholeFile(kP400PackageFile, cache.image, error)) {
            job.loadReport.resultText = "Could not open upgrade file. Message: " + error;
            job.loadReport.outcome = kOutcomeFailDownloadFiles;
            return kVerifonePackageUnreadable;
        }
        job.needRemoteRetrieval = false;
    }

    if (!unpack(pad, job, cache)) return kVerifoneUnpackFailed;
    const bool loaded = pad.loadAdkAndXpi() == 2;
    // The step names the archive that failed; without one (its files could
    // not be written) the failure is the pad step's as a whole.
    const std::string recorded = job.loadReport.outcome;
    return reportPadStep(pad, job, loaded, recorded.empty() ? kOutcomeFailLoadCommServer : recorded.c_str());
}

}  // namespace korvane
