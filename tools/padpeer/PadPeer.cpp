#include "tools/padpeer/PadPeer.h"

namespace korvane::padpeer {

PadPeer::PadPeer(PtyPeer& line, Responder responder) : line_(line), responder_(std::move(responder)) {}

PadPeer::~PadPeer() { stop(); }

void PadPeer::start() {
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void PadPeer::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

void PadPeer::nakNextFrames(int count) { nakFrames_ = count; }
void PadPeer::ignoreNextFrames(int count) { ignoreFrames_ = count; }
void PadPeer::corruptNextReplies(int count) { corruptReplies_ = count; }
void PadPeer::setReplyCheckMode(CheckMode mode) { checkMode_ = mode; }
void PadPeer::setReplyAckWaitMs(uint32_t ms) { replyAckWaitMs_ = ms; }

void PadPeer::setAfterReply(std::string bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    afterReply_ = std::move(bytes);
}

void PadPeer::noiseBeforeNextReply(std::string bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    noise_ = std::move(bytes);
}

std::vector<std::string> PadPeer::framesReceived() const {
    std::lock_guard<std::mutex> guard(lock_);
    return frames_;
}

bool PadPeer::takeOne(std::atomic<int>& counter) {
    int left = counter.load();
    while (left > 0) {
        if (counter.compare_exchange_weak(left, left - 1)) return true;
    }
    return false;
}

void PadPeer::run() {
    // Short looks, so that stop() is answered quickly.
    constexpr uint32_t kLookMs = 20;
    while (!stopping_ && line_.plugged()) {
        const std::optional<std::string> frame = line_.readFrame(kLookMs);
        if (!frame) continue;
        {
            std::lock_guard<std::mutex> guard(lock_);
            frames_.push_back(*frame);
        }
        if (!isGoodFrame(*frame)) {
            line_.write(std::string(1, kNak));
            continue;
        }
        if (takeOne(ignoreFrames_)) continue;
        if (takeOne(nakFrames_)) {
            line_.write(std::string(1, kNak));
            continue;
        }
        line_.write(std::string(1, kAck));
        bool acked = true;
        for (const std::string& text : responder_(textOf(*frame))) {
            acked = sendReply(text);
            if (!acked) break;
        }
        std::string after;
        {
            std::lock_guard<std::mutex> guard(lock_);
            after = afterReply_;
        }
        if (acked && !after.empty()) line_.write(after);
    }
}

bool PadPeer::sendReply(const std::string& text) {
    std::string noise;
    {
        std::lock_guard<std::mutex> guard(lock_);
        noise.swap(noise_);
    }
    for (int transmission = 0; transmission < kReplyTransmissions; ++transmission) {
        std::string frame = frameOf(text, checkMode_);
        if (takeOne(corruptReplies_)) frame = withBadCheck(frame);
        if (!line_.write(noise + frame)) return false;
        noise.clear();
        const std::optional<char> answer = line_.readByte(replyAckWaitMs_);
        if (!answer) return false;
        if (*answer == kAck) {
            ++acksReceived_;
            return true;
        }
        if (*answer != kNak) {
            // The loader has moved on to its next frame.
            line_.unread(*answer);
            return false;
        }
        ++naksReceived_;
    }
    return false;
}

}  // namespace korvane::padpeer
