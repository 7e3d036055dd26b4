#pragma once

#include "job/ByteArray.h"
#include "pad/Bundle.h"
#include "server/LoadServerClient.h"

#include <cstdint>
#include <string>

namespace korvane {

class SerialPort;

// An Equinox L5300 pad, and at the same time the load server client of the
// load it belongs to. The commands use the owner job's `serialPort` (and its
// `comPort`, `configImage`, `resultText` and progress window) and block the
// calling thread, pumping its messages in the waits. Without an owner or an
// open port every command fails as a link failure.
//
// The pad is loaded by its packing list: the loader clears the pad, sends the
// bundle's "PACKINGLIST" entry, and then the pad asks for each file by name
// ("R" name) in the order it wants; the loader only counts the files.
class EquinoxPad : public LoadServerClient {
public:
    // Link time-outs (acknowledgement / reply, ms). Never scaled.
    static constexpr uint32_t kVariableAckMs = 10000, kVariableReplyMs = 10000;
    static constexpr uint32_t kDeleteAckMs = 20000;
    static constexpr uint32_t kChunkAckMs = 10000, kChunkReplyMs = 10000;
    static constexpr uint32_t kRestartQueryAckMs = 10000, kRestartQueryReplyMs = 10000;

    static constexpr int kDeleteAttempts = 100;
    static constexpr uint32_t kDeleteRetryPauseMs = 300;
    static constexpr int kRestartAttempts = 225;
    static constexpr uint32_t kRestartCycleMs = 10;

    // Procedure waits of awaitRestart: original values, scaled by the timing table.
    static constexpr uint32_t kRestartSpacingMs = 1000;  // from the end of one attempt to the next
    static constexpr uint32_t kRestartSettleMs = 1000;   // messages run before the first attempt and after the last

    static constexpr const char* kStageFpe = " FPE...";
    static constexpr const char* kStageForms = " Korvane Forms...";
    static constexpr const char* kPackingListName = "PACKINGLIST";

    explicit EquinoxPad(const InstallationConfig& installation, LoadJob* job = nullptr,
                        SecurityInterface& security = SecurityInterface::processWide());
    ~EquinoxPad() override;

    // The packing-list load of the bundle last unpacked: "LALL" (up to 100
    // attempts), the packing list, every file the pad asks for, the restart.
    // 2 when the pad was loaded and came back; 0 with the job's `resultText`.
    int loadPackingList() override;

    // The file in "PL5" chunks of at most 65000 bytes; an empty file sends
    // nothing and succeeds. Every chunk but the last waits for its ACK only;
    // so does the last with `acknowledgementOnly`, otherwise the pad's reply
    // (its next request) is received into `reply`. False at the first chunk
    // that failed, leaving the rest unsent.
    bool sendFile(const std::string& name, const ByteArray& data, std::string& reply, bool acknowledgementOnly);

    // The pad restarts by itself after its last file: the port is closed and
    // reopened and "T" asked about once a second, up to 225 times, until the
    // pad answers with its letter ("H", "K" or "L"). True when it answered and
    // the port is open again. A pad that never answered has not come back, so
    // it is a failure even when the port opens.
    bool awaitRestart();

    // "v" FS "GV" FS "VN" name as a segmented transaction; the whole reply
    // goes to `reply` (the value is its "VV" field). 0, or the link code.
    int getVariable(const std::string& name, std::string& reply);

    // The end-to-end encryption keys: empty when acceptable, else the reason.
    std::string checkE2eKeys();

    // The bundle the job's `configImage` points to, into the file map. False
    // with the reason as LastErrorText() when it is no whole bundle.
    bool unpackBundle();

    // " FPE..." or " Korvane Forms...": follows "Loading" in the status line.
    void setStageLabel(std::string label) { stageLabel_ = std::move(label); }
    const BundleEntries& files() const { return files_; }

private:
    SerialPort* port() const;
    int fail(const std::string& resultText);

    BundleEntries files_;
    std::string stageLabel_;
};

}  // namespace korvane
