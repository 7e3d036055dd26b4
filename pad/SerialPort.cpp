#include "pad/SerialPort.h"

#include "pad/LinkTrace.h"
#include "platform/ComPortDevices.h"
#include "platform/DeviceAccess.h"
#include "platform/MessagePump.h"
#include "platform/Tick.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace korvane {
namespace {

bool speedFor(int baudRate, speed_t& speed) {
    switch (baudRate) {
    case 300: speed = B300; return true;
    case 1200: speed = B1200; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 115200: speed = B115200; return true;
    default: return false;
    }
}

bool parityFlagsFor(char parity, tcflag_t& flags) {
    switch (parity) {
    case 'E': case 'e': flags = PARENB; return true;
    case 'N': case 'n': flags = 0; return true;
    case 'O': case 'o': flags = PARENB | PARODD; return true;
    default: return false;
    }
}

bool sizeFlagsFor(char dataBits, tcflag_t& flags) {
    switch (dataBits) {
    case '7': flags = CS7; return true;
    case '8': flags = CS8; return true;
    default: return false;
    }
}

bool stopFlagsFor(char stopBits, tcflag_t& flags) {
    switch (stopBits) {
    case '1': flags = 0; return true;
    case '2': flags = CSTOPB; return true;
    default: return false;
    }
}

// Errors after which the device is gone for good (unplugged, hung up).
bool isDeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV || error == EBADF; }

}  // namespace

SerialPort::~SerialPort() { close(); }

bool SerialPort::isOpen() const { return fd_ >= 0; }

void SerialPort::fail(const std::string& what, int error) {
    lastError_ = what;
    if (error != 0) lastError_ += std::string(": ") + std::strerror(error);
}

void SerialPort::noteDeviceError(int error) {
    if (isDeviceGone(error)) deviceLost_ = true;
    fail(devicePath_, error);
}

bool SerialPort::open(int portNumber, int baudRate, char parity, char dataBits, char stopBits, bool resetSettings) {
    if (isOpen() && !close()) return false;
    lastError_.clear();
    forgetDeviceOpenFailure();
    // Everything that can be judged without the device is judged first, so
    // that a bad request never toggles the lines of whatever is connected.
    if (portNumber < kFirstComPort || portNumber > kLastComPort) {
        fail("port number " + std::to_string(portNumber) + " is out of range (1-255)", 0);
        return false;
    }
    speed_t speed = B0;
    tcflag_t parityFlags = 0;
    tcflag_t sizeFlags = 0;
    tcflag_t stopFlags = 0;
    if (!speedFor(baudRate, speed)) {
        fail("baud rate " + std::to_string(baudRate) + " is not supported", 0);
        return false;
    }
    if (!parityFlagsFor(parity, parityFlags) || !sizeFlagsFor(dataBits, sizeFlags) ||
        !stopFlagsFor(stopBits, stopFlags)) {
        fail("line settings not supported", 0);
        return false;
    }

    const std::string path = comPortDevicePath(portNumber);
    const int fd = openDeviceNode(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        noteDeviceOpenFailure(describeDeviceAccessProblem(path, error));
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof(target) - 1);
        fail("cannot open " + path + (length > 0 ? " -> " + std::string(target, static_cast<size_t>(length)) : ""),
             error);
        return false;
    }
    bool exclusive = false;
    auto abandon = [&](const std::string& what, int error) {
        fail(path + ": " + what, error);
        if (error != 0) noteDeviceOpenFailure(describeDeviceAccessProblem(path, error));
        // Only our own claim is given up: another holder's must stand.
        if (exclusive) ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    };

    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return abandon("not a terminal", errno);
    // TIOCEXCL keeps other programs out, but root passes it; so a device that
    // another holder already claimed is refused here, and the advisory lock
    // also stops a second copy of this tool running as root.
    int claimed = 0;
    if (::ioctl(fd, TIOCGEXCL, &claimed) == 0 && claimed != 0) return abandon("in use by another program", EBUSY);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return abandon("in use by another program", errno);
    if (::ioctl(fd, TIOCEXCL) != 0) return abandon("cannot take exclusive use", errno);
    exclusive = true;

    if (resetSettings) settings = termios{};
    ::cfmakeraw(&settings);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    // CLOCAL: a pad cable carries no carrier line, and without it the driver
    // would hang the port up. HUPCL: closing lowers DTR and RTS.
    settings.c_cflag |= CREAD | CLOCAL | HUPCL | sizeFlags | parityFlags | stopFlags;
    // Reads return at once with whatever has arrived.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, speed);
    ::cfsetospeed(&settings, speed);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) return abandon("cannot apply the line settings", errno);
    // tcsetattr succeeds when any part applied; make sure the speed did.
    // (Framing is not compared: pseudo-terminals are always 8 bits, no parity.)
    termios applied{};
    if (::tcgetattr(fd, &applied) != 0 || ::cfgetospeed(&applied) != speed)
        return abandon("the driver refused the line settings", 0);

    const int lines = TIOCM_DTR | TIOCM_RTS;
    // A pseudo-terminal has no modem lines: ENOTTY/EINVAL means "none here".
    if (::ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
        return abandon("cannot raise DTR and RTS", errno);

    fd_ = fd;
    devicePath_ = path;
    deviceLost_ = false;
    lineErrorCount_ = 0;
    lineErrorsSinceLastLook();
    portNumber_ = portNumber;
    return true;
}

bool SerialPort::close() {
    if (fd_ < 0) return true;
    // Exclusive use outlives this descriptor if another one stays open on
    // the device, so it is given up explicitly.
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    // Linux releases the descriptor even when close reports an error, so the
    // port counts as closed either way.
    ::close(fd_);
    fd_ = -1;
    return true;
}

int SerialPort::writeBytes(const char* bytes, size_t length, uint32_t timeoutMs) {
    if (length > kMaxWriteLength) length = kMaxWriteLength - 1;
    if (length == 0) return kStatusDone;
    if (fd_ < 0 || deviceLost_) return kStatusIoError;
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) {
        noteDeviceError(errno);
        return kStatusIoError;
    }
    // The kernel's transmit buffer is smaller than a large frame, so the
    // bytes go out as room appears; the time-out covers writing and draining.
    const uint32_t start = tickCount();
    size_t written = 0;
    for (;;) {
        if (written < length) {
            const ssize_t count = ::write(fd_, bytes + written, length - written);
            if (count > 0) {
                traceLink(LinkTraceEvent::sent, bytes + written, static_cast<size_t>(count));
                written += static_cast<size_t>(count);
            } else if (count < 0 && errno != EAGAIN && errno != EINTR) {
                noteDeviceError(errno);
                return kStatusIoError;
            }
        }
        if (written == length) {
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) {
                noteDeviceError(errno);
                return kStatusIoError;
            }
            if (queued <= 0) return kStatusDone;
        }
        if (elapsedSince(start) > timeoutMs) {
            ::tcflush(fd_, TCOFLUSH);
            fail(devicePath_ + ": output not sent within " + std::to_string(timeoutMs) + " ms", 0);
            return kStatusTimeout;
        }
        if (written < length) {
            pollfd watch{fd_, POLLOUT, 0};
            if (::poll(&watch, 1, 1) > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                deviceLost_ = true;
                fail(devicePath_ + ": device gone", 0);
                return kStatusIoError;
            }
        } else {
            sleepMs(1);
        }
        // A block takes a third of a second on a cable: the windows stay live meanwhile.
        pumpMessages();
    }
}

int SerialPort::writeString(const char* text, uint32_t timeoutMs) {
    return writeBytes(text, text != nullptr ? std::strlen(text) : 0, timeoutMs);
}

int SerialPort::sendByte(char byte) { return writeBytes(&byte, 1, kWriteTimeoutMs); }

int SerialPort::sendAck() { return sendByte(kAck); }

int SerialPort::sendNak() { return sendByte(kNak); }

uint32_t SerialPort::bytesAvailable() {
    if (fd_ < 0) return 0;
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0) {
        noteDeviceError(errno);
        return 0;
    }
    return queued > 0 ? static_cast<uint32_t>(queued) : 0;
}

bool SerialPort::lineErrorsSinceLastLook() {
    serial_icounter_struct counters{};
    // Pseudo-terminals and some USB adapters keep no counters: no errors then.
    if (::ioctl(fd_, TIOCGICOUNT, &counters) != 0) return false;
    const int total = counters.frame + counters.parity + counters.overrun + counters.brk + counters.buf_overrun;
    const bool fresh = total != lineErrorCount_;
    lineErrorCount_ = total;
    return fresh;
}

uint32_t SerialPort::readAvailable(uint32_t maximum) {
    if (fd_ < 0) return 0;
    const uint32_t queued = bytesAvailable();
    if (lineErrorsSinceLastLook()) return 0;
    if (queued == 0 || maximum == 0) return 0;
    uint32_t count = queued;
    if (maximum != kNoMaximum) count = std::min(count, maximum);
    count = std::min(count, kMaxReadCount);
    const ssize_t got = ::read(fd_, readBuffer_, count);
    if (got < 0) {
        if (errno != EAGAIN && errno != EINTR) noteDeviceError(errno);
        return 0;
    }
    traceLink(LinkTraceEvent::received, readBuffer_, static_cast<size_t>(got));
    return static_cast<uint32_t>(got);
}

int SerialPort::readByte() { return readAvailable(1) == 1 ? 1 : 0; }

void SerialPort::purgeInput() {
    if (fd_ < 0) return;
    if (linkTraceEnabled()) {
        // Read what the purge would drop, so the trace can show it.
        char dropped[kReadBufferSize];
        for (uint32_t queued = bytesAvailable(); queued > 0; queued = bytesAvailable()) {
            const ssize_t got = ::read(fd_, dropped, std::min<size_t>(queued, sizeof(dropped)));
            if (got <= 0) break;
            traceLink(LinkTraceEvent::discarded, dropped, static_cast<size_t>(got));
        }
    }
    ::tcflush(fd_, TCIFLUSH);
}

bool SerialPort::waitReadable(uint32_t timeoutMs) {
    if (fd_ < 0 || deviceLost_) {
        sleepMs(timeoutMs);
        return false;
    }
    pollfd watch{fd_, POLLIN, 0};
    const int ready = ::poll(&watch, 1, static_cast<int>(std::min<uint32_t>(timeoutMs, 0x7FFFFFFF)));
    if (ready <= 0) return false;
    if ((watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        deviceLost_ = true;
        fail(devicePath_ + ": device gone", 0);
        return false;
    }
    return (watch.revents & POLLIN) != 0;
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
        if (deviceLost_ || fd_ < 0) return kStatusIoError;
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
            if (deviceLost_ || fd_ < 0) return kStatusIoError;
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
        if (deviceLost_ || fd_ < 0) break;
    }
    return kStatusDone;
}

}  // namespace korvane
