#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace korvane {

// Line settings already checked against the accepted set (SerialPort::open).
struct SerialLineSettings {
    int baudRate = 0;
    char parity = 'N';
    char dataBits = '8';
    char stopBits = '1';
    bool resetSettings = true;
};

// The operating system's side of a SerialPort: one open COM port device.
// SerialPort keeps the protocol logic; each build has exactly one backend.
// Failures are written to the owning port's `lastError` and `deviceLost`,
// which outlive the device.
class SerialPortDevice {
public:
    // Opens and configures port `portNumber` (already checked to be 1 to 255),
    // exclusively, raw, no flow control, DTR and RTS on, reads that never
    // block. Null on failure, with nothing left open.
    static std::unique_ptr<SerialPortDevice> open(int portNumber, const SerialLineSettings& settings,
                                                  std::string& lastError, bool& deviceLost);

    virtual ~SerialPortDevice() = default;

    // False when the system refused to close it; the device then stays open.
    virtual bool close() = 0;

    // Writes 1 to 65,535 bytes and waits until they have left the transmit
    // queue, pumping messages: SerialPort's status 0, 1 or 5.
    virtual int write(const char* bytes, size_t length, uint32_t timeoutMs) = 0;

    // Bytes in the receive queue; 0 when that cannot be asked.
    virtual uint32_t queuedInput() = 0;

    // Whether a line error (framing, parity, overrun, break) was seen since
    // the previous call; looking clears it.
    virtual bool lineErrorsSinceLastLook() = 0;

    // Reads up to `count` of the queued bytes (at most the read buffer's
    // 1024) without waiting: the count read, or -1 on an error.
    virtual int read(char* buffer, uint32_t count) = 0;

    // Discards the receive side only.
    virtual void purgeInput() = 0;

    // Blocks up to `timeoutMs` until input is waiting (true) or the time is up.
    virtual bool waitReadable(uint32_t timeoutMs) = 0;
};

}  // namespace korvane
