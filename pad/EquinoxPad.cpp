#include "pad/EquinoxPad.h"

#include "pad/ControlChars.h"
#include "pad/EquinoxMessages.h"
#include "pad/LinkCodes.h"
#include "pad/RbaLink.h"
#include "pad/SerialPort.h"
#include "pad/TaggedField.h"
#include "platform/MessagePump.h"
#include "platform/Tick.h"
#include "platform/TimingTable.h"
#include "job/LoadJob.h"

namespace korvane {
namespace {

constexpr int kPadBaud = 115200;

constexpr char kEnablementKey[] = "KeyCheckSum.M.019";
constexpr char kEnablementUsage[] = "Usage=DATADECDIR";
constexpr char kPanKey[] = "KeyKsn.6";
constexpr char kPinKey[] = "KeyKsn.12";
constexpr char kValueTag[] = "VV";

bool isBackLetter(const std::string& letter) { return letter == "H" || letter == "K" || letter == "L"; }

}  // namespace

EquinoxPad::EquinoxPad(const InstallationConfig& installation, LoadJob* job, SecurityInterface& security)
    : LoadServerClient(installation, job, security) {}

EquinoxPad::~EquinoxPad() = default;

SerialPort* EquinoxPad::port() const {
    LoadJob* job = owner();
    if (job == nullptr || job->serialPort == nullptr || !job->serialPort->isOpen()) return nullptr;
    return job->serialPort;
}

int EquinoxPad::getVariable(const std::string& name, std::string& reply) {
    reply.clear();
    SerialPort* serial = port();
    if (serial == nullptr) return kLinkFailed;
    return RbaLink(*serial).segmentedTransact(buildFrame(equinoxGetVariableText(name)), reply, kVariableAckMs,
                                              kVariableReplyMs, kStx, kEtx);
}

std::string EquinoxPad::checkE2eKeys() {
    std::string reply;
    if (getVariable(kEnablementKey, reply) != kLinkSuccess) return "Getting enablement key from device failed";
    if (reply.find(kEnablementUsage) == std::string::npos) return "E2E enablement key not present.";
    if (getVariable(kPanKey, reply) != kLinkSuccess) return "Getting PAN encryption key from device failed";
    if (findTaggedField(reply, kValueTag).empty()) return "No PAN key found.";
    if (getVariable(kPinKey, reply) != kLinkSuccess) return "Getting PIN encryption key from device failed";
    if (!isAcceptablePinKsn(findTaggedField(reply, kValueTag))) return "Incorrect PIN found. Please contact Olbrek.";
    return {};
}

bool EquinoxPad::sendFile(const std::string& name, const ByteArray& data, std::string& reply,
                          bool acknowledgementOnly) {
    const size_t chunks = equinoxChunkCount(data.size());
    if (chunks == 0) return true;
    SerialPort* serial = port();
    if (serial == nullptr) return false;
    RbaLink link(*serial);
    for (size_t index = 0; index < chunks; ++index) {
        const std::string frame = buildFrame(equinoxChunkText(name, data, index));
        const bool last = index + 1 == chunks;
        const int result = last && !acknowledgementOnly
                               ? link.segmentedTransact(frame, reply, kChunkAckMs, kChunkReplyMs, kStx, kEtx)
                               : link.sendFrame(frame, kChunkAckMs);
        if (result != kLinkSuccess) return false;
    }
    return true;
}

bool EquinoxPad::awaitRestart() {
    LoadJob* job = owner();
    if (job == nullptr || job->serialPort == nullptr) return false;
    SerialPort& serial = *job->serialPort;
    sleepPumping(procedureWait(kRestartSettleMs));

    bool back = false;
    int attempts = 0;
    bool firstAttempt = true;
    uint32_t lastAttemptEnded = tickCount();
    while (!back && attempts < kRestartAttempts) {
        serial.close();
        if (firstAttempt || elapsedSince(lastAttemptEnded) >= procedureWait(kRestartSpacingMs)) {
            firstAttempt = false;
            if (serial.open(job->comPort, kPadBaud, 'N', '8', '1', true)) {
                std::string reply;
                back = RbaLink(serial).segmentedTransact(buildFrame("T"), reply, kRestartQueryAckMs,
                                                         kRestartQueryReplyMs, kStx, kEtx) == kLinkSuccess &&
                       isBackLetter(equinoxModelLetter(reply));
            }
            lastAttemptEnded = tickCount();
            ++attempts;
        }
        sleepPumping(kRestartCycleMs);
    }

    sleepPumping(procedureWait(kRestartSettleMs));
    if (!serial.isOpen() && !serial.open(job->comPort, kPadBaud, 'N', '8', '1', true)) return false;
    return back;
}

bool EquinoxPad::unpackBundle() {
    std::string whyNot;
    if (readJobBundle(owner(), files_, whyNot)) return true;
    setLastErrorText(whyNot);
    return false;
}

int EquinoxPad::fail(const std::string& resultText) {
    if (LoadJob* job = owner()) job->loadReport.resultText = resultText;
    return 0;
}

int EquinoxPad::loadPackingList() {
    LoadJob* job = owner();
    if (job == nullptr) return 0;
    job->postStatus("Deleting all files on Pad");
    bool deleted = false;
    for (int attempt = 0; attempt < kDeleteAttempts && !deleted; ++attempt) {
        SerialPort* serial = port();
        deleted = serial != nullptr && RbaLink(*serial).sendFrame(buildFrame("LALL"), kDeleteAckMs) == kLinkSuccess;
        if (!deleted && attempt + 1 < kDeleteAttempts) sleepMs(kDeleteRetryPauseMs);
    }
    if (!deleted) return fail("Failed to delete files on Pad.\r\n");

    job->postStatus("Loading" + stageLabel_);
    const auto packingList = files_.find(kPackingListName);
    if (packingList == files_.end()) return fail("Failed to find Packing list in download.\r\n");
    std::string reply;
    if (!sendFile(packingList->first, packingList->second, reply, false))
        return fail("Failed Loading file " + packingList->first + ".\r\n");

    // The pad chooses the order; the loader counts the files still due.
    for (size_t remaining = files_.size() - 1; remaining > 0; --remaining) {
        const std::optional<std::string> requested = requestedFileName(reply);
        if (!requested) return fail("Invalid Response Loading file.\r\n" + renderControlChars(reply));
        reply.clear();
        const auto file = files_.find(*requested);
        if (file == files_.end()) return fail("Failed to find " + *requested + " in download.\r\n");
        // The last file due ends the transfer: its last chunk wants only the
        // ACK, since the pad then restarts instead of asking again.
        if (!sendFile(file->first, file->second, reply, remaining == 1))
            return fail("Failed Loading file " + file->first + ".\r\n");
    }

    job->postStatus("Rebooting Terminal");
    if (!awaitRestart()) return fail("Failed after reboot.");
    job->loadReport.resultText = "Pad Loaded Successfully.";
    return 2;
}

}  // namespace korvane
