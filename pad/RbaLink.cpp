#include "pad/RbaLink.h"

#include "pad/ControlChars.h"
#include "pad/SerialPort.h"
#include "platform/MessagePump.h"
#include "platform/Tick.h"

namespace korvane {
namespace {

// Receive state of one frame: hunt for the start byte, collect the text up
// to the end byte, then take the check byte.
class FrameCollector {
public:
    FrameCollector(char startByte, char endByte) : startByte_(startByte), endByte_(endByte) {}

    // True when `byte` was the check byte that completes a frame.
    bool feed(char byte) {
        switch (state_) {
        case State::hunt:
            if (byte == startByte_) {
                frame_.assign(1, byte);
                state_ = State::text;
            } else {
                frame_.clear();
            }
            return false;
        case State::text:
            frame_ += byte;
            if (byte == endByte_) state_ = State::check;
            return false;
        case State::check:
            frame_ += byte;
            state_ = State::hunt;
            return true;
        }
        return false;
    }

    void restart() {
        frame_.clear();
        state_ = State::hunt;
    }

    const std::string& frame() const { return frame_; }

private:
    enum class State { hunt, text, check };
    char startByte_;
    char endByte_;
    State state_ = State::hunt;
    std::string frame_;
};

bool startsWith(const std::string& frame, const char* head) { return frame.compare(0, 3, head) == 0; }

}  // namespace

int RbaLink::waitAck(uint32_t timeoutMs) {
    const uint32_t start = tickCount();
    for (;;) {
        if (elapsedSince(start) >= timeoutMs) return kLinkAckTimeout;
        port_.pollCycle(start, timeoutMs);
        pumpMessages();
        if (port_.readByte() == 1) return port_.readBuffer()[0] == kAck ? kLinkSuccess : kLinkFailed;
        if (port_.deviceLost() || !port_.isOpen()) return kLinkFailed;
    }
}

int RbaLink::receiveFrame(std::string& reply, uint32_t timeoutMs) {
    reply.clear();
    FrameCollector collector(kStx, kEtx);
    int result = kLinkReplyTimeout;
    int naks = 0;
    const uint32_t start = tickCount();
    while (elapsedSince(start) < timeoutMs) {
        port_.pollCycle(start, timeoutMs);
        pumpMessages();
        const uint32_t count = port_.readAvailable(SerialPort::kNoMaximum);
        if (count == 0 && (port_.deviceLost() || !port_.isOpen())) {
            reply = collector.frame();
            return kLinkFailed;
        }
        const char* bytes = port_.readBuffer();
        for (uint32_t i = 0; i < count; ++i) {
            if (!collector.feed(bytes[i])) continue;
            if (checkLrc(collector.frame())) {
                reply = collector.frame();
                port_.sendAck();
                return kLinkSuccess;
            }
            port_.sendNak();
            collector.restart();
            result = kLinkFailed;
            if (++naks >= kMaxNaks) return result;
        }
    }
    reply = collector.frame();
    return result;
}

void RbaLink::drainInput(uint32_t durationMs) {
    const uint32_t start = tickCount();
    do {
        port_.purgeInput();
        port_.pollCycle(start, durationMs);
        pumpMessages();
    } while (elapsedSince(start) < durationMs);
    port_.purgeInput();
}

int RbaLink::transmit(const std::string& frame, uint32_t ackTimeoutMs) {
    int result = kLinkAckTimeout;
    for (int attempt = 0; attempt < kTransmissions; ++attempt) {
        const int status = port_.writeBytes(frame.data(), frame.size(), kWriteTimeoutMs);
        if (status != SerialPort::kStatusDone) return status;
        result = waitAck(ackTimeoutMs);
        if (result == kLinkSuccess) return result;
        if (port_.deviceLost()) return result;
    }
    return result;
}

int RbaLink::sendFrame(const std::string& frame, uint32_t ackTimeoutMs) {
    port_.purgeInput();
    return transmit(frame, ackTimeoutMs);
}

int RbaLink::transact(const std::string& frame, std::string& reply, uint32_t ackTimeoutMs,
                      uint32_t replyTimeoutMs) {
    reply.clear();
    port_.purgeInput();
    const int sent = transmit(frame, ackTimeoutMs);
    if (sent != kLinkSuccess) return sent;
    return receiveFrame(reply, replyTimeoutMs);
}

bool RbaLink::awaitFrame(uint32_t timeoutMs) {
    FrameCollector collector(kStx, kEtx);
    int naks = 0;
    const uint32_t start = tickCount();
    while (elapsedSince(start) < timeoutMs) {
        port_.pollCycle(start, timeoutMs);
        pumpMessages();
        if (port_.readByte() != 1) {
            if (port_.deviceLost() || !port_.isOpen()) return false;
            continue;
        }
        if (!collector.feed(port_.readBuffer()[0])) continue;
        if (checkLrc(collector.frame())) {
            port_.sendAck();
            return true;
        }
        port_.sendNak();
        collector.restart();
        if (++naks >= kMaxNaks) return false;
        sleepPumping(kNakPauseMs);
    }
    return false;
}

bool RbaLink::receiveSegment(std::string& segment, std::string& pending, uint32_t timeoutMs, char startByte,
                             char endByte) {
    FrameCollector collector(startByte, endByte);
    int naks = 0;
    const uint32_t start = tickCount();
    for (;;) {
        // Bytes after a frame in the same read belong to the next frame.
        for (size_t used = 0; used < pending.size();) {
            if (!collector.feed(pending[used++])) continue;
            if (checkLrc(collector.frame())) {
                port_.sendAck();
                pending.erase(0, used);
                segment = collector.frame();
                return true;
            }
            port_.sendNak();
            collector.restart();
            if (++naks >= kMaxNaks) {
                pending.clear();
                segment.clear();
                return false;
            }
        }
        pending.clear();
        if (elapsedSince(start) >= timeoutMs) break;
        port_.pollCycle(start, timeoutMs);
        pumpMessages();
        const uint32_t count = port_.readAvailable(SerialPort::kNoMaximum);
        if (count == 0 && (port_.deviceLost() || !port_.isOpen())) break;
        pending.assign(port_.readBuffer(), count);
    }
    segment = collector.frame();
    return false;
}

int RbaLink::segmentedTransact(const std::string& frame, std::string& reply, uint32_t ackTimeoutMs,
                               uint32_t replyTimeoutMs, char startByte, char endByte) {
    reply.clear();
    port_.purgeInput();
    sleepPumping(kSegmentedSendPauseMs);
    const int status = port_.writeBytes(frame.data(), frame.size(), kWriteTimeoutMs);
    if (status != SerialPort::kStatusDone) return status;
    const int ack = waitAck(ackTimeoutMs);
    if (ack != kLinkSuccess) return ack;

    std::string pending;
    for (int received = 0; received < kMaxSegments; ++received) {
        std::string segment;
        if (!receiveSegment(segment, pending, replyTimeoutMs, startByte, endByte)) {
            reply += segment;
            return port_.deviceLost() ? kLinkFailed : kLinkReplyTimeout;
        }
        // Each segment has a six-byte header; the ETX and check byte of the
        // previous segment give way to the next segment's text. Segments too
        // short for their header add nothing.
        if (startsWith(segment, "\x02HY")) {
            if (reply.empty()) reply.assign(1, kStx);
            else if (reply.size() >= 2) reply.erase(reply.size() - 2);
            if (segment.size() > 6) reply.append(segment, 6);
            continue;
        }
        if (startsWith(segment, "\x02HN")) {
            if (reply.size() > 2) reply.erase(reply.size() - 2);
            if (segment.size() > 6) reply.append(segment, 6);
            return kLinkSuccess;
        }
        reply = segment;
        return kLinkSuccess;
    }
    return kLinkSuccess;
}

}  // namespace korvane
