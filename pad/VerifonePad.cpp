#include "pad/VerifonePad.h"

#include "pad/SerialPort.h"
#include "pad/VerifoneCommands.h"
#include "pad/VerifoneReplies.h"
#include "platform/MessagePump.h"
#include "platform/WorkingFiles.h"
#include "platform/TimingTable.h"
#include "server/OutcomeCodes.h"
#include "job/LoadJob.h"

#include <exception>
#include <memory>

namespace korvane {
namespace {

constexpr const char* kLaunchFailedText = "Could not launch DDL.";
constexpr const char* kLoadedText = "Pad Loaded Successfully.";
constexpr const char* kEvoloadFailedText = "DDL load failed. Is pad waiting for download?";
constexpr const char* kArchiveFailedText =
    "DDL load failed. Is pad waiting for download and using correct communication method?";
constexpr const char* kPortAccessFailedText = "Failed on Com Port Access.";

std::string runDescription(const ProcessRun& run) {
    if (run.timedOut) return std::string(VerifonePad::kProgramName) + " was stopped at its limit after " +
                             std::to_string(run.elapsedMs) + " ms";
    return std::string(VerifonePad::kProgramName) + " ended with exit code " + std::to_string(run.exitCode) +
           " after " + std::to_string(run.elapsedMs) + " ms";
}

}  // namespace

// The files written for one run; whatever happens, they are removed when it goes.
class VerifonePad::WrittenFiles {
public:
    WrittenFiles() = default;
    WrittenFiles(const WrittenFiles&) = delete;
    WrittenFiles& operator=(const WrittenFiles&) = delete;
    ~WrittenFiles() {
        for (const std::string& name : names_) removeFile(name);
    }
    void add(const std::string& name) { names_.push_back(name); }

private:
    std::vector<std::string> names_;
};

VerifonePad::VerifonePad(const InstallationConfig& installation, LoadJob* job, SecurityInterface& security)
    : LoadServerClient(installation, job, security) {}

VerifonePad::~VerifonePad() = default;

int VerifonePad::loadPackingList() { return 0; }

bool VerifonePad::unpackBundle() {
    std::string whyNot;
    if (readJobBundle(owner(), files_, whyNot)) return true;
    setLastErrorText(whyNot);
    return false;
}

std::string VerifonePad::evoloadCommandLine(int portNumber, bool usbConnection) {
    return std::string(kProgramName) + " -p" + std::to_string(portNumber) + " -b115200 -k7 -fEvoload" +
           (usbConnection ? "USB" : "Serial") + ".dld";
}

std::string VerifonePad::archiveCommandLine(int portNumber, const std::string& archive) {
    return std::string(kProgramName) + " -p" + std::to_string(portNumber) + " -b115200 -k7 -i" + archive;
}

int VerifonePad::fail(const std::string& resultText) {
    if (LoadJob* job = owner()) job->loadReport.resultText = resultText;
    return 0;
}

bool VerifonePad::writeFiles(WrittenFiles& written) {
    for (const auto& [name, data] : files_) {
        std::string error;
        if (!writePrivateFile(name, data, error)) {
            fail("Could not create file " + name + ". Message: " + error);
            return false;
        }
        written.add(name);
    }
    return true;
}

ProcessRun VerifonePad::runTool(const std::string& commandLine, uint32_t limitMs) {
    lastRun_ = runProgram(splitCommandLine(commandLine), limitMs);
    // korvane-load prints every status text: the exit code is there for diagnosis.
    if (lastRun_.started)
        if (LoadJob* job = owner()) job->postStatus(runDescription(lastRun_));
    return lastRun_;
}

int VerifonePad::loadEvoload() {
    LoadJob* job = owner();
    if (job == nullptr) return 0;
    try {
        WrittenFiles written;
        if (!writeFiles(written)) return 0;
        const int portNumber = job->serialPort != nullptr ? job->serialPort->portNumber() : job->comPort;
        const ProcessRun run = runTool(evoloadCommandLine(portNumber, job->usbConnection),
                                       procedureWait(procedure_waits::kEvoloadRunLimitMs));
        if (!run.started) return fail(kLaunchFailedText);
        if (run.timedOut || run.elapsedMs < procedureWait(procedure_waits::kEvoloadShortestRunMs))
            return fail(kEvoloadFailedText);
        job->loadReport.resultText = kLoadedText;
        return 2;
    } catch (const std::exception& exception) {
        return fail(std::string("Caught Exception: ") + exception.what());
    }
}

bool VerifonePad::runDownloadTool(const std::string& archive) {
    LoadJob* job = owner();
    if (job == nullptr) return false;
    const ProcessRun run =
        runTool(archiveCommandLine(job->comPort, archive), procedureWait(procedure_waits::kArchiveRunLimitMs));
    if (!run.started) {
        fail(kLaunchFailedText);
        return false;
    }
    if (run.timedOut || run.elapsedMs < procedureWait(procedure_waits::kArchiveShortestRunMs)) {
        fail(kArchiveFailedText);
        return false;
    }
    return true;
}

int VerifonePad::loadAdkAndXpi() {
    LoadJob* job = owner();
    if (job == nullptr) return 0;
    try {
        job->postStatus("Loading ADK Upgrade");
        WrittenFiles written;
        if (!writeFiles(written)) return 0;

        if (!runDownloadTool(kAdkArchive)) {
            job->loadReport.outcome = kOutcomeFailLoadAdk;
            return 0;
        }
        job->postStatus("Waiting for ADK install. Device will restart multiple times.");
        sleepPumping(procedureWait(procedure_waits::kAdkInstallWaitMs));
        // Not checked: a pad that is not in download mode makes the next run fail.
        std::string message;
        requestDownloadMode(message, job->usbConnection);
        job->postStatus("Loading XPI Upgrade");

        if (!runDownloadTool(kXpiArchive)) {
            job->loadReport.outcome = kOutcomeFailLoadXpi;
            return 0;
        }
        job->postStatus("Waiting for XPI install. Device will restart.");
        sleepPumping(procedureWait(procedure_waits::kXpiInstallWaitMs));
        job->postStatus("Performing EMVParamDownload");
        job->loadReport.resultText = kLoadedText;
        return 2;
    } catch (const std::exception& exception) {
        return fail(std::string("Caught Exception: ") + exception.what());
    }
}

bool VerifonePad::requestDownloadMode(std::string& message, bool usbConnection) {
    LoadJob* job = owner();
    if (job == nullptr) {
        message = kPortAccessFailedText;
        return false;
    }
    SerialPort ownPort;
    SerialPort& port = job->serialPort != nullptr ? *job->serialPort : ownPort;
    if (!port.open(job->comPort, kDownloadModeBaud, 'N', '8', '1', true)) {
        message = kPortAccessFailedText;
        return false;
    }
    sleepPumping(kPadCommandLeadPauseMs);
    const int result = sendDownloadModeRequest(port, usbConnection);
    port.close();
    if (result != 0) {
        message = verifoneLinkResultText(result);
        return false;
    }
    return true;
}

}  // namespace korvane
