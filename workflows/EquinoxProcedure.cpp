#include "workflows/EquinoxProcedure.h"

#include "pad/EquinoxIdentify.h"
#include "pad/EquinoxPad.h"
#include "pad/SerialPort.h"
#include "server/OutcomeCodes.h"
#include "workflows/EquinoxCaches.h"
#include "workflows/EquinoxWorker.h"
#include "workflows/LoadStation.h"
#include "workflows/LoadWorker.h"
#include "workflows/Operator.h"
#include "workflows/OutcomeReport.h"
#include "workflows/PortCheck.h"
#include "job/DecimalValue.h"
#include "job/LoadJob.h"
#include "job/VariantCode.h"

#include <memory>

namespace korvane {
namespace {

constexpr const char* kCommunicatingText = "Communicating with pad ... ";
constexpr const char* kSelectConnectionText = "Please select communication type.";
constexpr const char* kNotL5300Text = "Only Model L5300 (PCI2 or PCI3) supported at this time.";
constexpr const char* kRetrieveLoadIdentifierFailed = "Error Returned trying to Retrieve Load Identifier:\r\n";

const char* keyOutcome(const std::string& keyText) {
    if (keyText.find("PIN") != std::string::npos) return kOutcomeFailNoSilvanePin;
    if (keyText.find("PAN") != std::string::npos) return kOutcomeFailNoSilvanePan;
    return kOutcomeFailLoadKeys;
}

}  // namespace

void loadEquinox(LoadStation& station) {
    // Every return below closes the port (the SerialPort's destructor), ends
    // the busy pointer and removes the progress window, in that order.
    const BusyIndicator busy(station.op);
    const std::unique_ptr<ProgressView> progress = station.op.openProgressWindow();
    progress->show();
    EquinoxCaches& caches = equinoxCaches();
    caches.expireIfStale(station.cacheStamp);

    if (station.controls.connection == ConnectionType::none) {
        station.op.showMessage(kSelectConnectionText);
        return;
    }
    SerialPort port;
    LoadJob job;
    job.progressWindow = progress->handle();
    job.comPort = decimalValue(station.controls.comPortText);
    std::string message;
    if (!checkAndOpenPort(port, job.comPort, kPadBaudRate, message)) {
        station.op.showMessage(message);
        return;
    }
    job.serialPort = &port;

    EquinoxPad pad(station.installation, &job);
    job.postStatus(kCommunicatingText);
    if (!identifyEquinox(port, job.deviceInfo, message)) {
        station.op.showMessage(message);
        return;
    }

    const EquinoxVariant* variant = equinoxVariantOfModel(job.deviceInfo.padModel);
    if (variant == nullptr) {
        job.deviceInfo.variantCode = kVariantEquinoxOther;
        station.op.showMessage(kNotL5300Text);
        return;
    }
    job.deviceInfo.padModel = variant->loadIdentifier;
    job.deviceInfo.variantCode = variant->variantCode;
    job.*variant->fpeNeeded = true;
    job.*variant->configMissing = variant->caches().config.image.empty();

    if (!pad.RequestLoad()) {
        station.op.showMessage(kRetrieveLoadIdentifierFailed + pad.LastErrorText());
        return;
    }

    const std::string keys = pad.checkE2eKeys();
    if (!keys.empty()) {
        job.loadReport.outcome = keyOutcome(keys);
        station.op.showMessage(keys);
        reportOutcome(station, pad);
        return;
    }

    const InstallationConfig& installation = station.installation;
    // A worker that could not start has said so and leaves the load failed,
    // which is reported like any other failure.
    runLoadWorker(
        station.op, job, [&installation](LoadJob& worked) { return equinoxWorker(worked, installation); },
        LoadFamily::equinox);

    if (job.succeeded) {
        // The worker's own report was taken.
        station.reportedOutcome = job.loadReport.outcome;
    } else {
        station.op.showMessage(job.errorText.empty() ? job.loadReport.resultText : job.errorText);
        // Also when the worker already reported: the server then hears of the failure twice.
        reportOutcome(station, pad);
    }
    station.op.showMessage(job.loadReport.outcome);
}

}  // namespace korvane
