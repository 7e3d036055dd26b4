#include "workflows/EquinoxWorker.h"

#include "pad/EquinoxPad.h"
#include "server/OutcomeCodes.h"
#include "workflows/EquinoxCaches.h"
#include "workflows/OutcomeReport.h"
#include "job/LoadJob.h"
#include "job/VariantCode.h"

namespace korvane {
namespace {

EquinoxGeneration& pci2Caches() { return equinoxCaches().pci2; }
EquinoxGeneration& pci3Caches() { return equinoxCaches().pci3; }

const EquinoxVariant kVariants[] = {
    {kVariantEquinoxPci2, "H", "EQ_L5300_PCI2_SILVE2E", "EQ_L5XXX_FPE_PCI2", &LoadJob::fpeNeededPci2,
     &LoadJob::configMissingPci2, &pci2Caches},
    {kVariantEquinoxPci3, "K", "EQ_L5300_PCI3_SILVE2E", "EQ_L5XXX_FPE_PCI3", &LoadJob::fpeNeededPci3,
     &LoadJob::configMissingPci3, &pci3Caches},
};

// `package` from the load server into `cache`. A failed fetch leaves the
// cache empty: half a bundle must never pass for a cached one at the next
// press, which would load it without asking the server again.
bool fetchInto(EquinoxPad& pad, const std::string& package, CachedBundle& cache, const char* failureLeadIn) {
    LoadJob& job = *pad.owner();
    job.deviceInfo.padModel = package;
    job.downloadTarget = &cache.image;
    const bool fetched = pad.FetchApplication(false);
    job.downloadTarget = nullptr;
    if (!fetched) {
        cache.forget();
        job.errorText = failureLeadIn + pad.LastErrorText();
        // The load is registered, so its failure goes to the server with a code.
        if (job.loadReport.outcome.empty()) job.loadReport.outcome = kOutcomeFailDownloadFiles;
        return false;
    }
    cache.version = job.fetchedVersion;
    return true;
}

// Reports the worker's failure outcome; a report that did not go through is
// the text the handler shows.
void reportFailure(EquinoxPad& pad, LoadJob& job) {
    if (!pad.ReportLoadStatus()) job.errorText = kSendLoadIdentifierFailed + pad.LastErrorText();
}

}  // namespace

const EquinoxVariant* equinoxVariantOfModel(const std::string& padModel) {
    for (const EquinoxVariant& variant : kVariants)
        if (padModel.find(variant.letter) != std::string::npos) return &variant;
    return nullptr;
}

const EquinoxVariant* equinoxVariantOfCode(int variantCode) {
    for (const EquinoxVariant& variant : kVariants)
        if (variant.variantCode == variantCode) return &variant;
    return nullptr;
}

int retrieveEquinoxBundles(EquinoxPad& pad) {
    LoadJob& job = *pad.owner();
    const EquinoxVariant* variant = equinoxVariantOfCode(job.deviceInfo.variantCode);
    if (variant == nullptr) return kEquinoxUnknownVariant;
    EquinoxGeneration& caches = variant->caches();

    if (job.*variant->fpeNeeded && caches.fpe.image.empty()) {
        const bool fetched = fetchInto(pad, variant->fpePackage, caches.fpe,
                                       "Error Returned trying to Retrieve Remote FPE:\r\n");
        job.deviceInfo.padModel = variant->loadIdentifier;
        if (!fetched) return kEquinoxRetrievalFailed;
        job.*variant->fpeNeeded = false;
    }
    if (!(job.*variant->configMissing)) return 0;

    const bool fetched = fetchInto(pad, variant->loadIdentifier, caches.config,
                                   "Error Returned trying to Retrieve Remote Configuration:\r\n");
    if (!fetched) return kEquinoxRetrievalFailed;
    job.*variant->configMissing = false;
    return 0;
}

int equinoxWorker(LoadJob& job, const InstallationConfig& installation) {
    job.postStatus("Connecting to Server to retrieve for Application ... ");
    EquinoxPad pad(installation, &job);
    // Taken before the retrieval clears the flag of a fetched FPE.
    const bool loadFpe = job.fpeNeededPci2 || job.fpeNeededPci3;

    job.postStatus("Connecting to server to retrieve application... ");
    if (const int result = retrieveEquinoxBundles(pad); result != 0) return result;
    const EquinoxVariant* variant = equinoxVariantOfCode(job.deviceInfo.variantCode);
    if (variant == nullptr) return kEquinoxUnknownVariant;
    const EquinoxGeneration& caches = variant->caches();

    job.loadReport.reportedAppVersion = caches.config.version;
    job.applicationImage = &caches.config.image;

    if (loadFpe) {
        job.configImage = &caches.fpe.image;
        if (!pad.unpackBundle()) {
            job.errorText = "Error Trying to Unpack FPE:\r\n" + pad.LastErrorText();
            return kEquinoxUnpackFailed;
        }
        pad.setStageLabel(EquinoxPad::kStageFpe);
        if (pad.loadPackingList() != 2) {
            job.loadReport.outcome = kOutcomeFailLoadFpe;
            reportFailure(pad, job);
            return kEquinoxLoadFailed;
        }
    }

    job.loadReport.reportedConfigVersion = caches.config.version;
    job.configImage = &caches.config.image;
    if (!pad.unpackBundle()) {
        job.errorText = "Error Trying to Unpack Configuration:\r\n" + pad.LastErrorText();
        return kEquinoxUnpackFailed;
    }
    pad.setStageLabel(EquinoxPad::kStageForms);
    job.loadReport.outcome = pad.loadPackingList() == 2 ? kOutcomeLoaded : kOutcomeFailLoadForms;

    if (!pad.ReportLoadStatus()) {
        job.errorText = kSendLoadIdentifierFailed + pad.LastErrorText();
        return kEquinoxLoadFailed;
    }
    job.succeeded = true;
    return 0;
}

}  // namespace korvane
