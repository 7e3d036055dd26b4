#include "pad/RbaPad.h"

#include "pad/ControlChars.h"
#include "pad/RbaLink.h"
#include "pad/RbaReplies.h"
#include "pad/SerialPort.h"
#include "platform/MessagePump.h"
#include "platform/Tick.h"
#include "platform/TimingTable.h"
#include "job/CancelRequested.h"
#include "job/LoadJob.h"

namespace korvane {
namespace {

constexpr char kIdentifyText[] = "07.";
constexpr char kResetText[] = "00.0000";
constexpr char kRebootText[] = "97.";
constexpr char kKeyCheckText[] = "29.00000810";
constexpr uint32_t kPumpSliceMs = 10;
constexpr int kPadBaud = 115200;

}  // namespace

RbaPad::RbaPad(const InstallationConfig& installation, LoadJob* job, SecurityInterface& security)
    : LoadServerClient(installation, job, security) {}

RbaPad::~RbaPad() = default;

int RbaPad::loadPackingList() { return 0; }

SerialPort* RbaPad::port() const {
    LoadJob* job = owner();
    if (job == nullptr || job->serialPort == nullptr || !job->serialPort->isOpen()) return nullptr;
    return job->serialPort;
}

bool RbaPad::identify(SerialPort& port, DeviceInfo& deviceInfo, std::string& errorOut) {
    std::string reply;
    const int result = port.exchange(buildFrame(kIdentifyText), reply, kIdentifyAckMs, kIdentifyReplyMs);
    if (result != kLinkSuccess || !isIdentificationReply(reply)) {
        errorOut = "No Valid Response to '07' Command:\r\n" + renderControlChars(reply);
        return false;
    }
    takeIdentificationFields(reply, deviceInfo);
    return true;
}

bool RbaPad::identify(std::string& errorOut) {
    SerialPort* serial = port();
    if (serial == nullptr) {
        errorOut = "No Valid Response to '07' Command:\r\n";
        return false;
    }
    return identify(*serial, owner()->deviceInfo, errorOut);
}

bool RbaPad::sendReset(SerialPort& port) {
    std::string reply;
    return port.exchange(buildFrame(kResetText), reply, kResetAckMs, kResetReplyMs) == kLinkSuccess;
}

bool RbaPad::sendReset() {
    SerialPort* serial = port();
    return serial != nullptr && sendReset(*serial);
}

bool RbaPad::resetAndAwait() {
    SerialPort* serial = port();
    if (serial == nullptr) return false;
    RbaLink link(*serial);
    if (link.sendFrame(buildFrame(kResetText), kAwaitResetAckMs) != kLinkSuccess) return false;
    link.awaitFrame(kAwaitResetReplyMs);  // acknowledged when it comes; it does not decide
    return true;
}

bool RbaPad::showPrompt(const std::string& line1, const std::string& line2) {
    SerialPort* serial = port();
    if (serial == nullptr) return false;
    const std::string text = std::string("24.MSG.K3Z") + kFs + "TPROMPTLINE1," + line1 + " " + line2;
    return RbaLink(*serial).sendFrame(buildFrame(text), kPromptAckMs) == kLinkSuccess;
}

std::string RbaPad::checkEncryptionKeys() {
    SerialPort* serial = port();
    std::string reply;
    if (serial == nullptr ||
        RbaLink(*serial).transact(buildFrame(kKeyCheckText), reply, kKeyCheckAckMs, kKeyCheckReplyMs) !=
            kLinkSuccess)
        return "Getting encryption keys from device failed";
    return judgeKeyReply(reply);
}

bool RbaPad::reboot(std::string& errorOut, bool waitForReturn) {
    SerialPort* serial = port();
    if (serial == nullptr || RbaLink(*serial).sendFrame(buildFrame(kRebootText), kRebootAckMs) != kLinkSuccess) {
        errorOut = "Failed to reboot device";
        return false;
    }
    if (!waitForReturn) return true;
    return waitForPad(errorOut, kRebootAttempts, false);
}

bool RbaPad::waitForPad(std::string& errorOut, int attempts, bool reopenPort) {
    errorOut.clear();
    LoadJob* job = owner();
    sleepPumping(procedureWait(kPadReturnFirstWaitMs));
    if (reopenPort) {
        if (job == nullptr || job->serialPort == nullptr) {
            errorOut = "Failed on Com Port Access.";
            return false;
        }
        job->serialPort->close();
        sleepPumping(procedureWait(kReopenPauseMs));
        if (!job->serialPort->open(job->comPort, kPadBaud, 'N', '8', '1', true)) {
            errorOut = "Failed on Com Port Access.";
            return false;
        }
    }

    uint32_t lastTry = tickCount();
    bool answered = sendReset();
    int tried = 0;
    while (!answered && tried < attempts) {
        if (cancelRequested.load()) {
            if (job != nullptr) job->errorText = kCancelText;
            errorOut = kCancelText;
            postStatus("Canceling...");
            return false;
        }
        // Measured from the start of the last try: a silent pad costs its
        // acknowledgement time-out per try and no more.
        if (elapsedSince(lastTry) >= procedureWait(kResetRetryMs)) {
            ++tried;
            lastTry = tickCount();
            answered = sendReset();
        }
        sleepMs(kPumpSliceMs);
        pumpMessages();
    }
    sleepPumping(procedureWait(kPadSettleMs));
    // Callers tell a time-out by this text; the wait itself counts as done.
    if (!answered) errorOut = kPadTimeoutText;
    return true;
}

}  // namespace korvane
