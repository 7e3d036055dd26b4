#pragma once

#include "server/LoadServerClient.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

class RbaLink;
class SerialPort;
struct DeviceInfo;
struct LoadJob;

// An Ingenico pad running RBA firmware, and at the same time the load server
// client of the load it belongs to. The commands use the owner job's
// `serialPort` (and its `errorText`, `usbConnection`, `comPort` and progress
// window); they block the calling thread, pumping its messages in long waits.
// Without an owner or an open port every command fails as a link failure.
class RbaPad : public LoadServerClient {
public:
    // Link time-outs (acknowledgement / reply, ms). Never scaled.
    static constexpr uint32_t kIdentifyAckMs = 10000, kIdentifyReplyMs = 10000;
    static constexpr uint32_t kResetAckMs = 2000, kResetReplyMs = 4000;
    static constexpr uint32_t kAwaitResetAckMs = 1000, kAwaitResetReplyMs = 3000;
    static constexpr uint32_t kGetAckMs = 1000, kGetReplyMs = 2000;
    static constexpr uint32_t kSetAckMs = 4000, kSetReplyMs = 8000;
    static constexpr uint32_t kSetListAckMs = 2000, kSetListReplyMs = 4000;
    static constexpr uint32_t kPromptAckMs = 1000;
    static constexpr uint32_t kKeyCheckAckMs = 2000, kKeyCheckReplyMs = 10000;
    static constexpr uint32_t kRebootAckMs = 1000;
    static constexpr uint32_t kBlockAckMs = 10000;
    static constexpr uint32_t kLastBlockAckMs = 3000;
    static constexpr uint32_t kLastBlockReplyMs = 1500000;  // the pad answers once it has installed the file

    static constexpr int kSetAttempts = 3;
    static constexpr uint32_t kSetRetryPauseMs = 100;
    static constexpr size_t kBlockSize = 4000;          // what every caller passes to loadFile
    static constexpr uint32_t kBlockRetryDrainMs[] = {100, 300};  // before the second and third send of a block
    static constexpr uint32_t kSerialBlockPauseMs = 3;  // paces a pad on a serial cable; not on USB
    static constexpr int kRebootAttempts = 35;

    // Procedure waits of waitForPad: original values, scaled by the timing table.
    static constexpr uint32_t kPadReturnFirstWaitMs = 3000;
    static constexpr uint32_t kReopenPauseMs = 500;
    static constexpr uint32_t kResetRetryMs = 1000;
    static constexpr uint32_t kPadSettleMs = 1000;

    static constexpr const char* kCancelText = "User canceled file load.";
    static constexpr const char* kPadTimeoutText = "Timeout waiting for pad.";

    explicit RbaPad(const InstallationConfig& installation, LoadJob* job = nullptr,
                    SecurityInterface& security = SecurityInterface::processWide());
    ~RbaPad() override;

    // No Ingenico path calls it: their procedures drive the commands below. Returns 0.
    int loadPackingList() override;

    // "07." on `port` (the button handlers use it before any job exists).
    // Fills the identification fields of `deviceInfo`; on failure the text
    // is "No Valid Response to '07' Command:\r\n" and the whole reply rendered.
    static bool identify(SerialPort& port, DeviceInfo& deviceInfo, std::string& errorOut);
    // The same on the job's port, into the job's deviceInfo.
    bool identify(std::string& errorOut);

    // "00.0000" by exchange: true when the pad answered, whatever it said.
    static bool sendReset(SerialPort& port);
    bool sendReset();
    // "00.0000" sent until acknowledged, then the pad's answer awaited (3000 ms)
    // and acknowledged; only the acknowledgement decides the result.
    bool resetAndAwait();

    // "61." group GS index; `valueOut` is cleared first and stays empty on failure.
    bool getParameter(const std::string& group, const std::string& index, std::string& valueOut,
                      std::string& errorOut);
    // "60." group GS index GS value, up to three attempts, then "00.0000".
    bool setParameter(const std::string& group, const std::string& index, const std::string& value,
                      std::string& errorOut);
    // The fixed signature-data list (groups 9 and 7) in one "60." message.
    bool setParameterList(std::string& errorOut);
    // Reads the parameter and writes it only when it differs; false if the read fails.
    bool ensureParameter(const std::string& group, const std::string& index, const std::string& value);

    // line1, a space and line2 as PROMPTLINE1 of the pad's message form; true when acknowledged.
    bool showPrompt(const std::string& line1, const std::string& line2);

    // "29.00000810": empty when the injected keys are acceptable, else the reason.
    std::string checkEncryptionKeys();

    // "97."; with `waitForReturn` the result is waitForPad(errorOut, 35, false).
    bool reboot(std::string& errorOut, bool waitForReturn);
    // Waits for a restarting pad: "00.0000" up to `attempts` + 1 times about a
    // second apart. True also when the pad never answered: `errorOut` then
    // reads "Timeout waiting for pad." (it is cleared first, so a caller's old
    // text cannot pass for a time-out). False on cancel or when the port
    // cannot be opened again.
    bool waitForPad(std::string& errorOut, int attempts, bool reopenPort);

    // Writes `data` to the pad as the file `fileName` in "62." blocks of
    // about `blockSize` bytes (escaped; 0 means kBlockSize). Empty data sends
    // nothing. Cancel is honoured before each block. Every failure text goes
    // to the job's errorText and to `errorOut`.
    bool loadFile(std::span<const uint8_t> data, const std::string& fileName, std::string& errorOut,
                  size_t blockSize = kBlockSize);
    bool loadFile(std::string_view text, const std::string& fileName, std::string& errorOut,
                  size_t blockSize = kBlockSize);

    // Parameter 8.1 = "1", unless `skipExtras` 8.15 = "2" and 8.16 = "2", then
    // `document` (the embedded contactless parameters) as "EMVCLESS.XML".
    // `errorOut` reads "Could not set contactless defaults." until it succeeds
    // (a failed download leaves its own text there).
    bool setContactlessDefaults(std::string& errorOut, bool skipExtras, std::string_view document);

private:
    SerialPort* port() const;
    bool writeParameters(const std::string& text, uint32_t ackTimeoutMs, uint32_t replyTimeoutMs,
                         std::string& errorOut);
    bool sendBlock(RbaLink& link, const std::string& frame);
    bool failLoad(const std::string& text, std::string& errorOut);
};

}  // namespace korvane
