#include "pad/SerialPortDevice.h"

#include "pad/LinkTrace.h"
#include "pad/SerialPort.h"
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

void fail(std::string& lastError, const std::string& what, int error) {
    lastError = what;
    if (error != 0) lastError += std::string(": ") + std::strerror(error);
}

// termios on the device the port number maps to.
class PosixSerialPortDevice final : public SerialPortDevice {
public:
    PosixSerialPortDevice(int fd, std::string path, std::string& lastError, bool& deviceLost)
        : fd_(fd), devicePath_(std::move(path)), lastError_(lastError), deviceLost_(deviceLost) {
        lineErrorsSinceLastLook();
    }
    ~PosixSerialPortDevice() override { close(); }

    bool close() override;
    int write(const char* bytes, size_t length, uint32_t timeoutMs) override;
    uint32_t queuedInput() override;
    bool lineErrorsSinceLastLook() override;
    int read(char* buffer, uint32_t count) override;
    void purgeInput() override { ::tcflush(fd_, TCIFLUSH); }
    bool waitReadable(uint32_t timeoutMs) override;

private:
    void noteDeviceError(int error) {
        if (isDeviceGone(error)) deviceLost_ = true;
        fail(lastError_, devicePath_, error);
    }

    int fd_;
    std::string devicePath_;
    std::string& lastError_;
    bool& deviceLost_;
    int lineErrorCount_ = 0;
};

bool PosixSerialPortDevice::close() {
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

int PosixSerialPortDevice::write(const char* bytes, size_t length, uint32_t timeoutMs) {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) {
        noteDeviceError(errno);
        return SerialPort::kStatusIoError;
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
                return SerialPort::kStatusIoError;
            }
        }
        if (written == length) {
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) {
                noteDeviceError(errno);
                return SerialPort::kStatusIoError;
            }
            if (queued <= 0) return SerialPort::kStatusDone;
        }
        if (elapsedSince(start) > timeoutMs) {
            ::tcflush(fd_, TCOFLUSH);
            fail(lastError_, devicePath_ + ": output not sent within " + std::to_string(timeoutMs) + " ms", 0);
            return SerialPort::kStatusTimeout;
        }
        if (written < length) {
            pollfd watch{fd_, POLLOUT, 0};
            if (::poll(&watch, 1, 1) > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                deviceLost_ = true;
                fail(lastError_, devicePath_ + ": device gone", 0);
                return SerialPort::kStatusIoError;
            }
        } else {
            sleepMs(1);
        }
        // A block takes a third of a second on a cable: the windows stay live meanwhile.
        pumpMessages();
    }
}

uint32_t PosixSerialPortDevice::queuedInput() {
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0) {
        noteDeviceError(errno);
        return 0;
    }
    return queued > 0 ? static_cast<uint32_t>(queued) : 0;
}

bool PosixSerialPortDevice::lineErrorsSinceLastLook() {
    serial_icounter_struct counters{};
    // Pseudo-terminals and some USB adapters keep no counters: no errors then.
    if (::ioctl(fd_, TIOCGICOUNT, &counters) != 0) return false;
    const int total = counters.frame + counters.parity + counters.overrun + counters.brk + counters.buf_overrun;
    const bool fresh = total != lineErrorCount_;
    lineErrorCount_ = total;
    return fresh;
}

int PosixSerialPortDevice::read(char* buffer, uint32_t count) {
    const ssize_t got = ::read(fd_, buffer, count);
    if (got < 0) {
        if (errno != EAGAIN && errno != EINTR) noteDeviceError(errno);
        return -1;
    }
    return static_cast<int>(got);
}

bool PosixSerialPortDevice::waitReadable(uint32_t timeoutMs) {
    pollfd watch{fd_, POLLIN, 0};
    const int ready = ::poll(&watch, 1, static_cast<int>(std::min<uint32_t>(timeoutMs, 0x7FFFFFFF)));
    if (ready <= 0) return false;
    if ((watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        deviceLost_ = true;
        fail(lastError_, devicePath_ + ": device gone", 0);
        return false;
    }
    return (watch.revents & POLLIN) != 0;
}

}  // namespace

std::unique_ptr<SerialPortDevice> SerialPortDevice::open(int portNumber, const SerialLineSettings& line,
                                                         std::string& lastError, bool& deviceLost) {
    speed_t speed = B0;
    tcflag_t parityFlags = 0;
    tcflag_t sizeFlags = 0;
    tcflag_t stopFlags = 0;
    if (!speedFor(line.baudRate, speed) || !parityFlagsFor(line.parity, parityFlags) ||
        !sizeFlagsFor(line.dataBits, sizeFlags) || !stopFlagsFor(line.stopBits, stopFlags)) {
        fail(lastError, "line settings not supported", 0);
        return nullptr;
    }

    const std::string path = comPortDevicePath(portNumber);
    const int fd = openDeviceNode(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        noteDeviceOpenFailure(describeDeviceAccessProblem(path, error));
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof(target) - 1);
        fail(lastError,
             "cannot open " + path + (length > 0 ? " -> " + std::string(target, static_cast<size_t>(length)) : ""),
             error);
        return nullptr;
    }
    bool exclusive = false;
    auto abandon = [&](const std::string& what, int error) -> std::unique_ptr<SerialPortDevice> {
        fail(lastError, path + ": " + what, error);
        if (error != 0) noteDeviceOpenFailure(describeDeviceAccessProblem(path, error));
        // Only our own claim is given up: another holder's must stand.
        if (exclusive) ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return nullptr;
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

    if (line.resetSettings) settings = termios{};
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

    deviceLost = false;
    return std::make_unique<PosixSerialPortDevice>(fd, path, lastError, deviceLost);
}

}  // namespace korvane
