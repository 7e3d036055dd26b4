#pragma once

#include "tools/pad-sim/LinePacer.h"
#include "tools/pad-sim/PadSimOptions.h"
#include "tools/pad-sim/RbaMessageChecks.h"
#include "tools/pad-sim/SimulatedPad.h"
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

// A SimulatedPad on a pseudo-terminal: the link side of the pad. Every good
// frame is acknowledged (ACK) and handed to the pad, whose replies are framed
// and sent, each retransmitted on NAK (three transmissions at most); a bad
// frame is NAKed. The fault switches, the silent periods and the pacing of
// a real cable are applied here. Runs on its own thread.
//
// Strict: every frame is compared in full with what the loader must send at
// that point (RbaMessageChecks), and the link discipline is watched: bytes
// outside a frame, an STX inside one, a wrong check byte, more bytes before
// a frame was acknowledged, a reply left unacknowledged or answered by a new
// frame. Each deviation is logged as "violation: ..." and counted; the pad
// answers as it would all the same.
class PadSimulator {
public:
    using Log = std::function<void(const std::string& line)>;

    static constexpr uint32_t kReplyAckWaitMs = 3000;
    static constexpr int kReplyTransmissions = 3;
    // Within a frame the loader writes without pause; a gap this long ends it.
    static constexpr uint32_t kByteGapMs = 1000;

    PadSimulator(const PadSimOptions& options, Log log);
    ~PadSimulator();
    PadSimulator(const PadSimulator&) = delete;
    PadSimulator& operator=(const PadSimulator&) = delete;

    // Opens the pseudo-terminal, links it as comN and starts answering; logs
    // "pad ready on comN -> DEVICE" first. False with a reason.
    bool start(std::string& error);
    // Stops answering and logs the summary line (the first call only).
    void stop();

    const std::string& devicePath() const;
    const std::string& linkPath() const { return linkPath_; }

    // The pad's state, read under the simulator's lock.
    std::string parameter(const std::string& key) const;
    std::string parameterListing() const;
    bool hasFile(const std::string& name) const;
    std::string file(const std::string& name) const;
    std::string appVersion() const;
    int filesReceived() const;

    // What came over the line: frames (good or bad, each transmission) and their bytes.
    long framesReceived() const { return framesReceived_.load(); }
    long long frameBytesReceived() const { return frameBytesReceived_.load(); }
    // Message texts of the good frames, in order (also those a fault swallowed).
    std::vector<std::string> messages() const;
    std::vector<std::string> violations() const;
    // "summary: ..., violations: N", as logged by stop().
    std::string summary() const;

private:
    // Writes what the line brought in, for a byte-for-byte comparison of two loads.
    void recordReceived();
    using Clock = std::chrono::steady_clock;

    // One frame as it came over the line.
    struct LineFrame {
        std::string bytes;  // STX through the check byte
        std::string text;   // between STX and ETX
        bool complete = false;
        bool innerStx = false;  // another STX came before the ETX
    };

    void run();
    std::optional<LineFrame> readFrame();
    void answerFrame(const LineFrame& frame, Clock::time_point arrived);
    void acknowledge(const LineFrame& frame, Clock::time_point arrived);
    void sendReply(const std::string& text, const std::string& request);
    bool takeFault(PadFault::Kind kind, const std::string& text);
    bool lineIgnored() const;
    void noteStray();
    void violation(const std::string& what);
    void say(const std::string& line);

    PadSimOptions options_;
    Log log_;
    std::unique_ptr<padpeer::PtyPeer> line_;
    std::string linkPath_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    LinePacer pacer_;

    mutable std::mutex stateLock_;
    SimulatedPad pad_;
    std::vector<std::string> messages_;
    std::vector<std::string> violations_;

    // Link state, touched by the answering thread only.
    std::vector<PadFault> faults_;  // counted down as they strike
    Clock::time_point silentUntil_{};
    bool dropping_ = false;
    RbaMessageChecks checks_;
    std::string lastChecked_;  // a frame sent again after no ACK is not checked twice
    std::string stray_;        // bytes outside any frame, not yet reported
    bool summarised_ = false;

    std::atomic<long> framesReceived_{0};
    std::atomic<long long> frameBytesReceived_{0};
};

}  // namespace korvane::padsim
