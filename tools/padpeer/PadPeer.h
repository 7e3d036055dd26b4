#pragma once

#include "tools/padpeer/PeerFrame.h"
#include "tools/padpeer/PtyPeer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvane::padpeer {

// A pad's side of the framed link, answering on its own thread: every good
// frame is ACKed and handed to the responder, whose reply texts are sent one
// by one, each retransmitted on NAK. Faults can be switched on for the next
// few occasions, and everything is recorded for the test or the simulator.
class PadPeer {
public:
    // Reply texts (without STX, ETX and check byte) for one received message text.
    using Responder = std::function<std::vector<std::string>(const std::string& text)>;

    PadPeer(PtyPeer& line, Responder responder);
    ~PadPeer();
    PadPeer(const PadPeer&) = delete;
    PadPeer& operator=(const PadPeer&) = delete;

    void start();
    void stop();  // waits for the answering thread

    // Faults, each counted down per occasion.
    void nakNextFrames(int count);       // NAK good frames instead of ACK
    void ignoreNextFrames(int count);    // stay silent: no ACK, no reply
    void corruptNextReplies(int count);  // each transmission of a reply counts once
    void noiseBeforeNextReply(std::string bytes);
    void setReplyCheckMode(CheckMode mode);
    void setAfterReply(std::string bytes); // sent once the replies are ACKed, e.g. EOT
    void setReplyAckWaitMs(uint32_t ms); // how long the pad waits for the ACK of its reply
    static constexpr int kReplyTransmissions = 3;  // a reply is sent at most this often

    // Record.
    std::vector<std::string> framesReceived() const;  // every frame, good or bad, as it came
    int acksReceived() const { return acksReceived_.load(); }
    int naksReceived() const { return naksReceived_.load(); }

private:
    void run();
    bool sendReply(const std::string& text);
    bool takeOne(std::atomic<int>& counter);

    PtyPeer& line_;
    Responder responder_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> nakFrames_{0};
    std::atomic<int> ignoreFrames_{0};
    std::atomic<int> corruptReplies_{0};
    std::atomic<uint32_t> replyAckWaitMs_{3000};
    std::atomic<CheckMode> checkMode_{CheckMode::eightBit};
    std::atomic<int> acksReceived_{0};
    std::atomic<int> naksReceived_{0};
    mutable std::mutex lock_;
    std::string noise_;
    std::string afterReply_;
    std::vector<std::string> frames_;
};

}  // namespace korvane::padpeer
