#include "workflows/VerifoneProcedures.h"

#include "pad/SerialPort.h"
#include "pad/VerifoneCommands.h"
#include "pad/VerifonePad.h"
#include "workflows/LoadStation.h"
#include "workflows/LoadWorker.h"
#include "workflows/Operator.h"
#include "workflows/OutcomeReport.h"
#include "workflows/PortCheck.h"
#include "workflows/VerifoneCaches.h"
#include "workflows/VerifoneWorkers.h"
#include "job/DecimalValue.h"
#include "job/LoadJob.h"
#include "job/VariantCode.h"

#include <memory>

namespace korvane {
namespace {

constexpr const char* kCommunicatingText = "Communicating with pad ... ";
constexpr const char* kSelectConnectionText = "Please select communication type.";
constexpr const char* kNoPadText = "Could not communicate with PIN pad.";
constexpr const char* kOnlyVx805Text = "Only Vx805 supported at this time.";
constexpr const char* kOnlyP400Text = "Only P400 supported at this time.";
constexpr const char* kNoDownloadModeText = "Could not enter P400 download mode.";
constexpr const char* kRetrieveLoadIdentifierFailed = "Error Returned trying to Retrieve Load Identifier:\r\n";
constexpr int kSerialDownloadPort = 1;  // "Load for Ethernet" asks the pad itself only on COM 1

constexpr int kVx805Baud = 9600;
constexpr int kP400Baud = 115200;

// One Verifone press from the port check on: the port, the job and the pad
// of the handler, which go (port closed) when the press ends.
struct VerifonePress {
    explicit VerifonePress(LoadStation& pressStation, ProgressView& progress)
        : station(pressStation), pad(pressStation.installation, &job) {
        job.progressWindow = progress.handle();
        job.serialPort = &port;
        job.comPort = decimalValue(station.controls.comPortText);
    }

    bool openPort(int baudRate) {
        std::string message;
        if (checkAndOpenPort(port, job.comPort, baudRate, message)) return true;
        station.op.showMessage(message);
        return false;
    }

    // Registers the load, runs the worker and reports a failure; the outcome
    // is shown in every case.
    void registerAndRun(const WorkerEntry& worker) {
        if (!pad.RequestLoad()) {
            station.op.showMessage(kRetrieveLoadIdentifierFailed + pad.LastErrorText());
            return;
        }
        // A worker that could not start has said so and leaves the load
        // failed, which is reported like any other failure.
        runLoadWorker(station.op, job, worker, LoadFamily::verifone);
        if (job.succeeded) {
            station.reportedOutcome = job.loadReport.outcome;
        } else {
            station.op.showMessage(job.errorText.empty() ? job.loadReport.resultText : job.errorText);
            // Also when the worker already reported: the server then hears of the failure twice.
            reportOutcome(station, pad);
        }
        station.op.showMessage(job.loadReport.outcome);
    }

    LoadStation& station;
    SerialPort port;
    LoadJob job;
    VerifonePad pad;
};

}  // namespace

void loadVx805(LoadStation& station, Vx805Button button) {
    const BusyIndicator busy(station.op);
    const std::unique_ptr<ProgressView> progress = station.op.openProgressWindow();
    progress->show();
    CachedBundle& cache = verifoneCaches().vx805;
    VerifoneCaches::expireIfStale(cache, station.cacheStamp);

    if (station.controls.connection == ConnectionType::none) {
        station.op.showMessage(kSelectConnectionText);
        return;
    }
    VerifonePress press(station, *progress);
    LoadJob& job = press.job;
    // "Load for Ethernet" always runs the serial description, whatever the cable.
    if (button == Vx805Button::loadNewXpi) job.usbConnection = station.controls.connection == ConnectionType::usb;
    job.postStatus(kCommunicatingText);
    if (!press.openPort(kVx805Baud)) return;

    std::string message;
    const bool identified = button == Vx805Button::loadForEthernet
                                ? readVerifoneSerial(press.port, job.deviceInfo, message)
                                : readVerifoneTags(press.port, job.deviceInfo, message);
    if (!identified) {
        station.op.showMessage(kNoPadText);
        return;
    }
    if (job.deviceInfo.padModel.find("VX805") == std::string::npos) {
        station.op.showMessage(kOnlyVx805Text);
        return;
    }

    bool stepsNeeded = true;
    if (button == Vx805Button::loadForEthernet) {
        if (job.comPort == kSerialDownloadPort) stepsNeeded = !requestDownloadMode(press.port, message, false);
    } else {
        stepsNeeded = !requestDownloadMode(press.port, message, job.usbConnection);
    }
    press.port.close();
    if (stepsNeeded && !station.op.runDownloadStepsWindow()) return;

    job.deviceInfo.padModel =
        button == Vx805Button::loadForEthernet ? "VX805_COMMSERVER" : "VX805_ELV_XPI";
    job.deviceInfo.variantCode = kVariantVx805;
    job.needRemoteRetrieval = cache.image.empty();

    const InstallationConfig& installation = station.installation;
    press.registerAndRun([&installation](LoadJob& worked) { return vx805Worker(worked, installation); });
}

void loadP400(LoadStation& station) {
    const BusyIndicator busy(station.op);
    const std::unique_ptr<ProgressView> progress = station.op.openProgressWindow();
    progress->show();
    CachedBundle& cache = verifoneCaches().p400;
    VerifoneCaches::expireIfStale(cache, station.cacheStamp);

    if (station.controls.connection == ConnectionType::none) {
        station.op.showMessage(kSelectConnectionText);
        return;
    }
    VerifonePress press(station, *progress);
    LoadJob& job = press.job;
    job.usbConnection = station.controls.connection == ConnectionType::usb;
    job.postStatus(kCommunicatingText);
    if (!press.openPort(kP400Baud)) return;

    std::string message;
    if (!readVerifoneTags(press.port, job.deviceInfo, message)) {
        station.op.showMessage(kNoPadText);
        return;
    }
    if (job.deviceInfo.padModel.find("P400") == std::string::npos) {
        station.op.showMessage(kOnlyP400Text);
        return;
    }
    // Not checked: the pad only shows it.
    sendZ8Message(press.port, "Upgrade failed", message);
    if (!requestDownloadMode(press.port, message, job.usbConnection)) {
        station.op.showMessage(kNoDownloadModeText);
        return;
    }
    press.port.close();

    job.deviceInfo.padModel = "P400_RQ_SILENTD41";
    job.deviceInfo.variantCode = kVariantP400;
    job.needRemoteRetrieval = cache.image.empty();

    const InstallationConfig& installation = station.installation;
    press.registerAndRun([&installation](LoadJob& worked) { return p400Worker(worked, installation); });
}

}  // namespace korvane
