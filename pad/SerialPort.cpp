#include "pad/SerialPort.h"

#include "pad/LinkTrace.h"
#include "pad/SerialPortDevice.h"
#include "platform/ComPortDevices.h"
#include "platform/DeviceAccess.h"
#include "platform/MessagePump.h"
#include "platform/Tick.h"

#include <algorithm>
#include <cstring>

namespace korvane {
namespace {

bool isAcceptedBaudRate(int baudRate) {
    switch (baudRate) {
    case 300: case 1200: case 2400: case 4800: case 9600: case 19200: case 115200: return true;
    default: return false;
    }
}

bool isAcceptedFraming(char parity, char dataBits, char stopBits) {
    const bool parityOk = parity == 'E' || parity == 'e' || parity == 'N' || parity == 'n' || parity == 'O' ||
                          parity == 'o';
    return parityOk && (dataBits == '7' || dataBits == '8') && (stopBits == '1' || stopBits == '2');
}

}  // namespace

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() { close(); }

bool SerialPort::isOpen() const { return device_ != nullptr; }

bool SerialPort::open(int portNumber, int baudRate, char parity, char dataBits, char stopBits, bool resetSettings) {
    if (isOpen() && !close()) return false;
    lastError_.clear();
    forgetDeviceOpenFailure();
    // Everything that can be judged without the device is judged first, so
    // that a bad request never toggles the lines of whatever is connected.
    if (portNumber < kFirstComPort || portNumber > kLastComPort) {
        lastError_ = "port number " + std::to_string(portNumber) + " is out of range (1-255)";
        return false;
    }
    if (!isAcceptedBaudRate(baudRate)) {
        lastError_ = "baud rate " + std::to_string(baudRate) + " is not supported";
        return false;
    }
    if (!isAcceptedFraming(parity, dataBits, stopBits)) {
        lastError_ = "line settings not supported";
        return false;
    }
    const SerialLineSettings settings{baudRate, parity, dataBits, stopBits, resetSettings};
    std::unique_ptr<SerialPortDevice> device = SerialPortDevice::open(portNumber, settings, lastError_, deviceLost_);
    if (!device) return false;
    device_ = std::move(device);
    deviceLost_ = false;
    portNumber_ = portNumber;
    return true;
}

bool SerialPort::close() {
    if (!device_) return true;
    if (!device_->close()) return false;
    device_.reset();
    return true;
}

int SerialPort::writeBytes(const char* bytes, size_t length, uint32_t timeoutMs) {
    if (length > kMaxWriteLength) length = kMaxWriteLength - 1;
    if (length == 0) return kStatusDone;
    if (!device_ || deviceLost_) return kStatusIoError;
    return device_->write(bytes, length, timeoutMs);
}

int SerialPort::writeString(const char* text, uint32_t timeoutMs) {
    return writeBytes(text, text != nullptr ? std::strlen(text) : 0, timeoutMs);
}

int SerialPort::sendByte(char byte) { return writeBytes(&byte, 1, kWriteTimeoutMs); }

int SerialPort::sendAck() { return sendByte(kAck); }

int SerialPort::sendNak() { return sendByte(kNak); }

uint32_t SerialPort::bytesAvailable() {
    if (!device_) return 0;
    return device_->queuedInput();
}

uint32_t SerialPort::readAvailable(uint32_t maximum) {
    if (!device_) return 0;
    const uint32_t queued = bytesAvailable();
    if (device_->lineErrorsSinceLastLook()) return 0;
    if (queued == 0 || maximum == 0) return 0;
    uint32_t count = queued;
    if (maximum != kNoMaximum) count = std::min(count, maximum);
    count = std::min(count, kMaxReadCount);
    const int got = device_->read(readBuffer_, count);
    if (got < 0) return 0;
    traceLink(LinkTraceEvent::received, readBuffer_, static_cast<size_t>(got));
    return static_cast<uint32_t>(got);
}

int SerialPort::readByte() { return readAvailable(1) == 1 ? 1 : 0; }

void SerialPort::purgeInput() {
    if (!device_) return;
    if (linkTraceEnabled()) {
        // Read what the purge would drop, so the trace can show it.
        char dropped[kReadBufferSize];
        for (uint32_t queued = bytesAvailable(); queued > 0; queued = bytesAvailable()) {
            const int got = device_->read(dropped, std::min<uint32_t>(queued, sizeof(dropped)));
            if (got <= 0) break;
            traceLink(LinkTraceEvent::discarded, dropped, static_cast<size_t>(got));
        }
    }
    device_->purgeInput();
}

bool SerialPort::waitReadable(uint32_t timeoutMs) {
    if (!device_ || deviceLost_) {
        sleepMs(timeoutMs);
        return false;
    }
    return device_->waitReadable(timeoutMs);
}

bool SerialPort::pollCycle(uint32_t startTick, uint32_t timeoutMs) {
    const uint32_t elapsed = elapsedSince(startTick);
    const uint32_t left = elapsed < timeoutMs ? timeoutMs - elapsed : 0;
    return waitReadable(std::clamp<uint32_t>(left, 1, kPollSliceMs));
}

int SerialPort::awaitAckByte(uint32_t timeoutMs) {
    const uint32_t start = tickCount();
    while (elapsedSince(start) < timeoutMs) {
        pollCycle(start, timeoutMs);
        pumpMessages();
        if (readByte() == 1) return readBuffer_[0] == kAck ? kStatusDone : kStatusIoError;
        if (deviceLost_ || !device_) return kStatusIoError;
    }
    return kStatusNoAnswer;
}

int SerialPort::sendAndAwaitAck(const std::string& frame) {
    purgeInput();
    const int status = writeBytes(frame.data(), frame.size(), kWriteTimeoutMs);
    if (status != kStatusDone) return status;
    return awaitAckByte(kAckWaitMs);
}

int SerialPort::exchange(const std::string& frame, std::string& reply, uint32_t ackTimeoutMs,
                         uint32_t replyTimeoutMs, char endByte, bool awaitEot) {
    reply.clear();
    purgeInput();
    const int status = writeBytes(frame.data(), frame.size(), kWriteTimeoutMs);
    if (status != kStatusDone) return status;

    const int ack = awaitAckByte(ackTimeoutMs);
    if (ack != kStatusDone) return ack;

    // The reply time-out runs from the ACK, with a grace period on top.
    const uint32_t replyBudget = replyTimeoutMs > 0xFFFFFFFFu - kReplyGraceMs ? 0xFFFFFFFFu
                                                                             : replyTimeoutMs + kReplyGraceMs;
    const uint32_t replyStart = tickCount();
    int result = kStatusTimeout;
    int naks = 0;
    bool endSeen = false;
    bool accepted = false;
    while (!accepted && elapsedSince(replyStart) < replyBudget) {
        pollCycle(replyStart, replyBudget);
        pumpMessages();
        const uint32_t count = readAvailable(kNoMaximum);
        if (count == 0) {
            if (deviceLost_ || !device_) return kStatusIoError;
            continue;
        }
        for (uint32_t i = 0; i < count; ++i) {
            reply += readBuffer_[i];
            if (!endSeen) {
                endSeen = readBuffer_[i] == endByte;
                continue;
            }
            if (checkLrcSevenBit(reply)) {
                sendAck();
                accepted = true;
                break;
            }
            // The rest of this read belongs to the refused frame; the pad
            // sends the whole frame again.
            sendNak();
            result = kStatusIoError;
            reply.clear();
            endSeen = false;
            if (++naks >= kMaxNaks) return result;
            break;
        }
    }
    if (!accepted) return result;
    if (!awaitEot) return kStatusDone;

    const uint32_t eotStart = tickCount();
    while (elapsedSince(eotStart) < kEotWaitMs) {
        pollCycle(eotStart, kEotWaitMs);
        pumpMessages();
        if (readByte() == 1) return readBuffer_[0] == kEot ? kStatusDone : kStatusIoError;
        if (deviceLost_ || !device_) break;
    }
    return kStatusDone;
}

}  // namespace korvane
