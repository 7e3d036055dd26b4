#include "workflows/IngenicoProcedures.h"

#include "pad/RbaPad.h"
#include "pad/SerialPort.h"
#include "server/OutcomeCodes.h"
#include "job/DecimalValue.h"
#include "workflows/IngenicoCaches.h"
#include "workflows/IngenicoWorker.h"
#include "job/LoadJob.h"
#include "workflows/LoadStation.h"
#include "workflows/LoadWorker.h"
#include "workflows/Operator.h"
#include "workflows/OutcomeReport.h"
#include "workflows/PortCheck.h"
#include "job/VariantCode.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace korvane {
namespace {

constexpr const char* kCommunicatingText = "Communicating with pad... ";
constexpr const char* kSelectConnectionText = "Please select communication type.";
constexpr const char* kRetrieveLoadIdentifierFailed = "Error Returned trying to Retrieve Load Identifier:\r\n";
constexpr const char* kWorkerFailedDefault = "Error loading RBA to device.";

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// The connection type into the job; false (and said) when none is chosen.
bool takeConnection(LoadStation& station, LoadJob& job) {
    if (station.controls.connection == ConnectionType::none) {
        station.op.showMessage(kSelectConnectionText);
        return false;
    }
    job.usbConnection = station.controls.connection == ConnectionType::usb;
    return true;
}

bool openLoadPort(LoadStation& station, LoadJob& job, SerialPort& port) {
    const int number = decimalValue(station.controls.comPortText);
    std::string error;
    if (!checkAndOpenPort(port, number, kPadBaudRate, error)) {
        station.op.showMessage(error);
        return false;
    }
    job.serialPort = &port;
    job.comPort = number;
    return true;
}

// Whether the pad runs the version the cache holds. An empty cached version
// (nothing fetched yet) matches nothing, not even a pad that reports none.
bool runsCachedVersion(const LoadJob& job) {
    const std::string& cached = ingenicoCaches().images.application.version;
    return !cached.empty() && job.deviceInfo.padAppVersion == cached;
}

// The pad to idle, the worker run and waited for; a failed one is shown with
// its text and reported. True when it succeeded.
bool runWorker(LoadStation& station, RbaPad& pad, LoadJob& job) {
    pad.sendReset();
    const InstallationConfig& installation = station.installation;
    runLoadWorker(
        station.op, job, [&installation](LoadJob& worked) { return ingenicoWorker(worked, installation); },
        LoadFamily::ingenico);
    if (job.succeeded) return true;
    station.op.showMessage(job.errorText.empty() ? kWorkerFailedDefault : job.errorText);
    reportOutcome(station, pad);
    return false;
}

}  // namespace

void loadWithCacheSet(LoadStation& station, const std::string& padName, int variantCode) {
    const BusyIndicator busy(station.op);
    const std::unique_ptr<ProgressView> progress = station.op.openProgressWindow();
    progress->show();
    IngenicoCaches& caches = ingenicoCaches();
    caches.expireIfStale(station.cacheStamp);

    LoadJob job;
    job.progressWindow = progress->handle();
    job.deviceInfo.variantCode = variantCode;
    if (!takeConnection(station, job)) return;
    const std::string suffix = connectionSuffix(job);
    job.disableBinWhitelist = station.controls.disableBinWhitelist;
    SerialPort port;
    if (!openLoadPort(station, job, port)) return;

    RbaPad pad(station.installation, &job);
    job.postStatus(kCommunicatingText);
    std::string error;
    if (!pad.identify(error)) {
        station.op.showMessage(error);
        return;
    }
    pad.sendReset();
    const bool alreadyLoaded = runsCachedVersion(job);

    std::string name = padName;
    std::string model = name;
    if (model.size() >= 2 && model.compare(model.size() - 2, 2, "V4") == 0) model.resize(model.size() - 2);
    if (upper(job.deviceInfo.padModel).find(upper(model)) == std::string::npos) {
        station.op.showMessage("Only " + model + " supported at this time.");
        return;
    }
    job.deviceInfo.padModel = name;

    const int lastVariant = station.lastLoadedVariant;
    job.needApplication = !cacheServes(caches.images.application, lastVariant, variantCode);
    job.needSerialConfig = !cacheServes(caches.images.serialConfig, lastVariant, variantCode);
    job.needUsbConfig = !cacheServes(caches.images.usbConfig, lastVariant, variantCode);
    job.deviceInfo.previousAppVersion = job.deviceInfo.padAppVersion;
    if (variantCode == kVariantIsmp4) {
        name = "iSMP4";
        job.deviceInfo.padModel = name;
    }

    if (!pad.RequestLoad()) {
        station.op.showMessage(kRetrieveLoadIdentifierFailed + pad.LastErrorText());
        return;
    }
    job.deviceInfo.padModel = name;

    const std::string keys = pad.checkEncryptionKeys();
    if (!keys.empty()) {
        const char* code = keys.find("PIN") != std::string::npos   ? kOutcomeFailNoSilvanePin
                           : keys.find("PAN") != std::string::npos ? kOutcomeFailNoSilvanePan
                                                                   : kOutcomeFailLoadKeys;
        job.loadReport.outcome = code + suffix;
        station.op.showMessage(keys);
        reportOutcome(station, pad);
        return;
    }

    if (!retrieveSecBins(station.installation, job.progressWindow, error)) {
        station.op.showMessage(error);
        return;
    }

    if (job.deviceInfo.padAppVersion == "230c") {
        job.needApplication = false;
        job.configOnly = true;
    } else if (alreadyLoaded) {
        runFormsStep(station, pad, suffix, std::string());
        port.close();
        return;
    }

    if (!runWorker(station, pad, job)) return;

    station.lastLoadedVariant = variantCode;
    job.postStatus("Waiting for device to restart...");
    if (!pad.reboot(error, true)) {
        station.op.showMessage(error);
        pad.sendReset();
        job.loadReport.outcome = kOutcomeFailAfterReboot + suffix;
        reportOutcome(station, pad);
        return;
    }
    if (error.find("Timeout") != std::string::npos) {
        if (const std::optional<int> newPort = station.op.runComPortPrompt(port)) job.comPort = *newPort;
        if (!port.isOpen()) {
            station.op.showMessage("Could not communicate with device using current port.");
            job.loadReport.outcome = std::string(kOutcomeFailAfterReboot) + suffix + kOutcomeSuffixTimedOut;
            reportOutcome(station, pad);
            return;
        }
    }
    runFormsStep(station, pad, suffix, std::string());
    port.close();
}

void loadGenericRba(LoadStation& station, const std::string& shortModel, int variantCode,
                    const GenericFormsInput& forms, const std::string& displayName) {
    LoadJob job;
    job.deviceInfo.variantCode = variantCode;
    if (!takeConnection(station, job)) return;
    SerialPort port;
    if (!openLoadPort(station, job, port)) return;

    RbaPad pad(station.installation, &job);
    const std::unique_ptr<ProgressView> progress = station.op.openProgressWindow();
    progress->show();
    job.progressWindow = progress->handle();
    job.postStatus(kCommunicatingText);

    std::string held, error;
    pad.getParameter("14", "05", held, error);
    if (held != forms.deviceIdentifier) {
        station.op.showMessage(held.find("KORVANE") != std::string::npos
                                   ? "This device has not been previously loaded as a " + displayName
                                   : "This device has not been loaded by a certified Korvane distributor and is "
                                     "ineligible for upgrade.");
        return;
    }

    IngenicoCaches& caches = ingenicoCaches();
    caches.expireIfStale(station.cacheStamp);
    if (!pad.identify(error)) {
        station.op.showMessage(error);
        return;
    }
    pad.sendReset();
    const bool alreadyLoaded = runsCachedVersion(job);
    if (upper(job.deviceInfo.padModel).find(upper(shortModel)) == std::string::npos) {
        station.op.showMessage("Only " + shortModel + " supported at this time.");
        return;
    }

    job.needApplication = !cacheServes(caches.images.application, station.lastLoadedVariant, variantCode);
    job.needSerialConfig = false;
    job.needUsbConfig = false;
    job.skipConfigLoad = true;
    job.uppVariant = true;
    job.deviceInfo.previousAppVersion = job.deviceInfo.padAppVersion;

    if (!pad.RequestLoad()) {
        station.op.showMessage(kRetrieveLoadIdentifierFailed + pad.LastErrorText());
        return;
    }
    if (alreadyLoaded) {
        job.loadReport.outcome = kOutcomeLoadNotRequired;
        station.op.showMessage("Pad already loaded.");
        reportOutcome(station, pad);
        return;
    }
    if (!retrieveSecBins(station.installation, job.progressWindow, error)) {
        station.op.showMessage(error);
        return;
    }

    if (!runWorker(station, pad, job)) return;
    station.lastLoadedVariant = variantCode;
    runGenericFormsStep(station, pad, forms);
    port.close();
}

}  // namespace korvane
