#pragma once

#include "tools/pad-sim/LinePacer.h"
#include "tools/pad-sim/PadSimOptions.h"
#include "tools/pad-sim/SimulatedEquinox.h"
#include "tools/padpeer/PtyPeer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvane::padsim {

// A SimulatedEquinox on a pseudo-terminal: the link side of the L5300. Every
// good frame is acknowledged (ACK) and handed to the pad; its replies are
// framed and sent, split into "HY"/"HN" segments where the loader reads them
// so and --segment-size asks for it, each frame retransmitted on NAK (three
// transmissions at most). A "PL5" chunk carries raw data that may hold ETX,
// so its frame is measured by its length field, not by the first ETX.
//
// Strict: every deviation from the protocol is logged as a line beginning
// "violation: " and counted. Runs on its own thread.
class EquinoxSimulator {
public:
    using Log = std::function<void(const std::string& line)>;

    static constexpr uint32_t kReplyAckWaitMs = 3000;
    static constexpr int kReplyTransmissions = 3;
    // Within a frame the loader writes without pause; a gap this long ends it.
    static constexpr uint32_t kByteGapMs = 1000;
    // The loader reads at most this many frames of one reply ("HY" segments included).
    static constexpr size_t kMostSegments = 10;

    EquinoxSimulator(const PadSimOptions& options, Log log);
    ~EquinoxSimulator();
    EquinoxSimulator(const EquinoxSimulator&) = delete;
    EquinoxSimulator& operator=(const EquinoxSimulator&) = delete;

    // Opens the pseudo-terminal, links it as comN and starts answering; logs
    // "pad ready on comN -> DEVICE" first. False with a reason.
    bool start(std::string& error);
    // Stops answering; what the transfer still owed is logged as violations,
    // then the summary line. Only the first call logs.
    void stop();

    // The current pseudo-terminal: a new one after each restart with --restart-unplug.
    std::string devicePath() const;
    const std::string& linkPath() const { return linkPath_; }

    // The pad's state, read under the simulator's lock.
    bool hasFile(const std::string& name) const;
    std::string file(const std::string& name) const;
    std::vector<std::string> fileNames() const;
    std::vector<std::string> arrivals() const;  // completed files in order of arrival, packing lists included
    std::vector<std::string> messages() const;  // texts of the good frames, in order
    std::vector<std::string> violations() const;
    int violationCount() const;
    // "summary: ..." as logged at the end.
    std::string summary() const;

    long framesReceived() const { return framesReceived_.load(); }
    long long frameBytesReceived() const { return frameBytesReceived_.load(); }

private:
    using Clock = std::chrono::steady_clock;

    // One frame as it came over the line.
    struct LineFrame {
        std::string bytes;  // STX through the check byte
        std::string text;   // between STX and ETX
        bool complete = false;
        bool goodCheck = false;
    };

    void run();
    std::optional<LineFrame> readFrame();
    void readChunkFrame(LineFrame& frame);
    void finishByQuiet(LineFrame& frame);
    void answerFrame(const LineFrame& frame, Clock::time_point arrived);
    void acknowledge(const LineFrame& frame, Clock::time_point arrived);
    void refuse(const LineFrame& frame, Clock::time_point arrived, bool nak);
    void reply(const EquinoxAnswer& answer, const std::string& request);
    // False when the frame was not acknowledged. `awaited`: the loader is still reading the reply.
    bool sendReplyFrame(const std::string& text, const std::string& request, bool awaited = true);
    void restart();
    // The line goes away once the loader has taken what was sent; its comN link with it.
    void unplugLine();
    // A fresh pseudo-terminal as comN; false when none can be had.
    bool replugLine();
    bool lineIgnored() const;
    // The fault that strikes now (counted down), or nullptr.
    const PadFault* takeFault(PadFault::Kind kind, const std::string& text);
    void noteStray();
    void violation(const std::string& what);
    void say(const std::string& line);

    PadSimOptions options_;
    Log log_;
    std::unique_ptr<padpeer::PtyPeer> line_;  // replaced by the answering thread only
    std::string linkPath_;
    std::string devicePath_;  // under stateLock_
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    bool stopped_ = false;
    LinePacer pacer_;

    mutable std::mutex stateLock_;
    SimulatedEquinox pad_;
    std::vector<std::string> messages_;
    std::vector<std::string> violations_;

    // Link state, touched by the answering thread only.
    std::vector<PadFault> faults_;  // counted down as they strike
    Clock::time_point silentUntil_{};
    std::optional<Clock::time_point> replugAt_;  // unplugged for a restart, back at this time
    bool refusing_ = false;  // refuse-after-restart struck: every frame is NAKed
    bool down_ = false;  // stay-down struck: nothing is answered any more
    std::string stray_;  // bytes outside any frame, not yet reported
    // The last chunk frame refused (NAK or no answer), and how often in a row.
    std::string refusedChunk_;
    int refusals_ = 0;

    std::atomic<long> framesReceived_{0};
    std::atomic<long long> frameBytesReceived_{0};
};

}  // namespace korvane::padsim
