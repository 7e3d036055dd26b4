#pragma once

#include "pad/LinkCodes.h"

#include <cstdint>
#include <string>

namespace korvane {

class SerialPort;

// The framed, acknowledged link to an RBA pad (STX text ETX LRC; ACK/NAK),
// over one SerialPort. It keeps no state between operations, so a pad object
// builds one on its current port whenever it needs it. Results are the link
// codes of LinkCodes.h; a failed write returns the port's write status. A
// device that goes away ends any wait at once with kLinkFailed. Every wait
// pumps the calling thread's messages between its polling cycles, so that a
// file written from the user-interface thread keeps the windows and Cancel live.
class RbaLink {
public:
    static constexpr uint32_t kWriteTimeoutMs = 15000;
    static constexpr int kTransmissions = 2;       // sendFrame and transact send a frame at most twice
    static constexpr int kMaxNaks = 3;             // the third refused reply ends the reception
    static constexpr uint32_t kNakPauseMs = 50;    // awaitFrame, after each NAK
    static constexpr int kMaxSegments = 10;        // segmentedTransact
    static constexpr uint32_t kSegmentedSendPauseMs = 100;

    explicit RbaLink(SerialPort& port) : port_(port) {}

    // Waits for one byte: 0 ACK, 1 another byte, 6 nothing within `timeoutMs`.
    int waitAck(uint32_t timeoutMs);

    // Receives one frame within `timeoutMs` (for the whole reception, not per
    // byte), hunting for STX and dropping anything before it. A good frame is
    // ACKed and returned whole in `reply`: 0. A bad check byte is NAKed and the
    // pad's retransmission awaited; the third NAK gives 1. At the time-out: 5,
    // or 1 when some frame failed its check.
    int receiveFrame(std::string& reply, uint32_t timeoutMs);

    // Discards everything that arrives during `durationMs`.
    void drainInput(uint32_t durationMs);

    // Purges input, then sends `frame` (15,000 ms write time-out) and waits
    // for ACK; without ACK it is sent once more. 0, or the last failure's code.
    int sendFrame(const std::string& frame, uint32_t ackTimeoutMs);

    // sendFrame, then receiveFrame into `reply` when the frame was ACKed.
    int transact(const std::string& frame, std::string& reply, uint32_t ackTimeoutMs, uint32_t replyTimeoutMs);

    // Like receiveFrame, one byte per cycle with messages pumped, a 50 ms
    // pause after each NAK; true only for a good frame, which is ACKed.
    bool awaitFrame(uint32_t timeoutMs);

    // The Equinox pad's multi-frame transaction. The frame is sent once after
    // a 100 ms pause, then up to ten reply frames (from `startByte` to the byte
    // after `endByte`) are received, each within `replyTimeoutMs`. Frames
    // beginning STX "HY" are segments with more to come, STX "HN" the last;
    // their text from offset 6 is assembled into `reply` (STX, every segment
    // text, the last ETX and check byte). Any other frame is the whole reply.
    // A reception that fails (time-out or three NAKs) appends what it had and
    // gives 5.
    int segmentedTransact(const std::string& frame, std::string& reply, uint32_t ackTimeoutMs,
                          uint32_t replyTimeoutMs, char startByte, char endByte);

private:
    int transmit(const std::string& frame, uint32_t ackTimeoutMs);
    bool receiveSegment(std::string& segment, std::string& pending, uint32_t timeoutMs, char startByte,
                        char endByte);

    SerialPort& port_;
};

}  // namespace korvane
