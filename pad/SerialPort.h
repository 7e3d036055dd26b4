#pragma once

#include "pad/ControlChars.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace korvane {

class SerialPortDevice;

// The COM port a pad is connected to, by the number the operator types
// (platform/ComPortDevices.h maps it to a device). Every operation is
// synchronous for its caller and reads never block: they take what the
// driver has already received. One thread uses a port at a time; no lock.
class SerialPort {
public:
    // Status codes of the write family and of sendAndAwaitAck.
    static constexpr int kStatusDone = 0;
    static constexpr int kStatusIoError = 1;
    static constexpr int kStatusTimeout = 5;
    static constexpr int kStatusNoAnswer = 6;

    static constexpr uint32_t kWriteTimeoutMs = 15000;   // every write of the link layers
    static constexpr uint32_t kAckWaitMs = 1000;         // sendAndAwaitAck
    static constexpr uint32_t kReplyGraceMs = 1500;      // exchange adds this to the caller's reply time-out
    static constexpr uint32_t kEotWaitMs = 1000;         // exchange, when an EOT is awaited
    static constexpr int kMaxNaks = 3;
    static constexpr uint32_t kPollSliceMs = 10;         // longest pause of one polling cycle
    static constexpr size_t kReadBufferSize = 1024;
    static constexpr uint32_t kMaxReadCount = 1023;      // one read never takes more
    static constexpr size_t kMaxWriteLength = 65536;     // a longer write is cut to 65,535 bytes
    static constexpr uint32_t kNoMaximum = 0xFFFFFFFFu;  // readAvailable without a limit

    SerialPort();
    virtual ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens port 1 to 255 exclusively (a second open of the same device fails
    // while this one holds it), raw, no flow control, DTR and RTS on. Accepted:
    // baud 300, 1200, 2400, 4800, 9600, 19200, 115200; parity E/e, N/n, O/o;
    // data bits '7' or '8'; stop bits '1' or '2'. `resetSettings` starts from
    // cleared line settings instead of the device's current ones. A port that
    // is open is closed first; any failure leaves the port closed, and a bad
    // number or setting fails before any device is touched.
    bool open(int portNumber, int baudRate, char parity, char dataBits, char stopBits, bool resetSettings);

    // True when closed or already closed. Closing lowers DTR and RTS.
    bool close();
    bool isOpen() const;

    // The number of the last successful open (0 before any).
    int portNumber() const { return portNumber_; }
    // The device path and the operating system's reason of the last failure, for diagnosis.
    const std::string& lastError() const { return lastError_; }
    // True once the device has gone away (a USB pad unplugged): reads find
    // nothing, writes and link waits end with an I/O error. Cleared by open.
    bool deviceLost() const { return deviceLost_; }

    // Writes `length` bytes (cut to 65,535 above 65,536) and waits until the
    // transmit queue has drained: 0 done (also for length 0, without I/O),
    // 1 I/O error, 5 not drained within `timeoutMs` (pending output is then
    // discarded). Messages are pumped while it waits.
    int writeBytes(const char* bytes, size_t length, uint32_t timeoutMs);
    // The text without its terminator, as writeBytes.
    int writeString(const char* text, uint32_t timeoutMs);
    // One byte with the 15,000 ms write time-out.
    int sendByte(char byte);
    int sendAck();
    int sendNak();

    // Bytes waiting in the receive queue; 0 when that cannot be asked.
    uint32_t bytesAvailable();
    // Reads what is waiting, at most `maximum` (kNoMaximum: no limit) and at
    // most 1023 bytes, into readBuffer(); returns the count. A line error
    // (framing, parity, overrun, break) since the last look makes it return 0.
    uint32_t readAvailable(uint32_t maximum);
    // 1 when one byte was read into readBuffer()[0], else 0.
    int readByte();
    const char* readBuffer() const { return readBuffer_; }
    // Discards what has been received and not yet read; output is untouched.
    void purgeInput();

    // Blocks up to `timeoutMs` until input is waiting (true) or the time is up.
    bool waitReadable(uint32_t timeoutMs);

    // The pause of one polling cycle in a wait that began at `startTick` and
    // lasts `timeoutMs`: it ends as soon as input is waiting (true), else after
    // kPollSliceMs or when the wait's time is up, whichever comes first. Input
    // is thus taken the moment it arrives and every time-out ends on time, as
    // with the 1 ms sleeps of a plain polling loop, but a silent line costs
    // next to no CPU (1 ms wake-ups alone cost about 2% of a core) and the
    // message pump between cycles still runs 100 times a second.
    bool pollCycle(uint32_t startTick, uint32_t timeoutMs);

    // Purges input, writes `frame` once (15,000 ms) and waits 1000 ms for one
    // byte while pumping messages: 0 ACK, 1 another byte (or the device went
    // away), 6 silence, or the write's status.
    int sendAndAwaitAck(const std::string& frame);

    // One framed transaction, sent once (no retransmission): purge, write
    // (15,000 ms), wait for ACK up to `ackTimeoutMs` (another byte: 1, none: 6),
    // then collect the reply for `replyTimeoutMs` + 1500 ms from the ACK; the
    // byte after `endByte` is the check byte, tested on seven bits. A good
    // reply is ACKed; a bad one is NAKed and the retransmission collected
    // afresh; the third NAK gives 1. At the time-out: 5, or 1 after a failed
    // check. With `awaitEot`, one more byte is awaited for 1000 ms after the
    // ACK: anything but EOT makes the result 1. Every cycle pumps messages.
    int exchange(const std::string& frame, std::string& reply, uint32_t ackTimeoutMs, uint32_t replyTimeoutMs,
                 char endByte = kEtx, bool awaitEot = false);

private:
    // Waits up to `timeoutMs` for one byte while pumping: 0 ACK, 1 other byte or device lost, 6 none.
    int awaitAckByte(uint32_t timeoutMs);

    // The operating system's side; null while closed.
    std::unique_ptr<SerialPortDevice> device_;
    int portNumber_ = 0;
    bool deviceLost_ = false;
    std::string lastError_;
    char readBuffer_[kReadBufferSize] = {};
};

}  // namespace korvane
