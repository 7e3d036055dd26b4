#include "pad/SerialPortDevice.h"

#include "pad/LinkTrace.h"
#include "pad/SerialPort.h"
#include "platform/ComPortDevices.h"
#include "platform/DeviceAccess.h"
#include "platform/MessagePump.h"
#include "platform/SystemErrorText.h"
#include "platform/Tick.h"

#include <cstring>
#include <windows.h>

namespace korvane {
namespace {

constexpr DWORD kDriverReceiveQueue = 1024;
constexpr DWORD kDriverTransmitQueue = 65536;
constexpr DWORD kLineErrors = CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_RXOVER | CE_BREAK;
// How long a cancelled write may take to end before the port is given up.
constexpr uint32_t kCancelWaitMs = 1000;

// What the serial drivers answer once the device behind the port has gone
// (a USB pad unplugged): every later call on the handle fails the same way.
bool isDeviceGone(DWORD error) {
    switch (error) {
    case ERROR_BAD_COMMAND:
    case ERROR_NOT_READY:
    case ERROR_ACCESS_DENIED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_INVALID_HANDLE: return true;
    default: return false;
    }
}

std::string errorText(const std::string& path, DWORD error) {
    return path + ": " + systemErrorText(static_cast<int>(error)) + " (error " + std::to_string(error) + ")";
}

bool byteSizeFor(char dataBits, BYTE& size) {
    switch (dataBits) {
    case '7': size = 7; return true;
    case '8': size = 8; return true;
    default: return false;
    }
}

bool parityFor(char parity, BYTE& value) {
    switch (parity) {
    case 'E': case 'e': value = EVENPARITY; return true;
    case 'N': case 'n': value = NOPARITY; return true;
    case 'O': case 'o': value = ODDPARITY; return true;
    default: return false;
    }
}

bool stopBitsFor(char stopBits, BYTE& value) {
    switch (stopBits) {
    case '1': value = ONESTOPBIT; return true;
    case '2': value = TWOSTOPBITS; return true;
    default: return false;
    }
}

// The COM port "\\.\COMn" with overlapped I/O, always waited for at once.
class Win32SerialPortDevice final : public SerialPortDevice {
public:
    Win32SerialPortDevice(HANDLE handle, std::string path, std::string& lastError, bool& deviceLost)
        : handle_(handle), path_(std::move(path)), lastError_(lastError), deviceLost_(deviceLost),
          writeBuffer_(new char[kDriverTransmitQueue]) {}
    ~Win32SerialPortDevice() override { close(); }

    bool close() override;
    int write(const char* bytes, size_t length, uint32_t timeoutMs) override;
    uint32_t queuedInput() override;
    bool lineErrorsSinceLastLook() override;
    int read(char* buffer, uint32_t count) override;
    void purgeInput() override { PurgeComm(handle_, PURGE_RXCLEAR); }
    bool waitReadable(uint32_t timeoutMs) override;

private:
    // The driver's error state and queue sizes; asking clears the error
    // state, so line errors are kept until lineErrorsSinceLastLook().
    bool commStatus(COMSTAT& status);
    void noteError(DWORD error) {
        if (isDeviceGone(error)) deviceLost_ = true;
        lastError_ = errorText(path_, error);
    }
    // Cancels the pending write and waits for it to end, so that its record
    // and buffer are free again. A driver that never ends it has lost the
    // device: the port is then written no more.
    void abandonWrite();
    void clearErrorState() {
        DWORD errors = 0;
        ClearCommError(handle_, &errors, nullptr);
        if ((errors & kLineErrors) != 0) lineErrors_ = true;
    }

    HANDLE handle_;
    std::string path_;
    std::string& lastError_;
    bool& deviceLost_;
    bool lineErrors_ = false;
    std::unique_ptr<char[]> writeBuffer_;
    OVERLAPPED writeRequest_{};
};

bool Win32SerialPortDevice::close() {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    if (!CloseHandle(handle_)) {
        lastError_ = errorText(path_, GetLastError());
        return false;
    }
    handle_ = INVALID_HANDLE_VALUE;
    return true;
}

bool Win32SerialPortDevice::commStatus(COMSTAT& status) {
    DWORD errors = 0;
    status = COMSTAT{};
    if (!ClearCommError(handle_, &errors, &status)) {
        noteError(GetLastError());
        return false;
    }
    if ((errors & kLineErrors) != 0) lineErrors_ = true;
    return true;
}

void Win32SerialPortDevice::abandonWrite() {
    CancelIo(handle_);
    const uint32_t start = tickCount();
    while (!HasOverlappedIoCompleted(&writeRequest_)) {
        if (elapsedSince(start) > kCancelWaitMs) {
            deviceLost_ = true;
            lastError_ = path_ + ": a cancelled write did not end";
            return;
        }
        sleepMs(1);
    }
    DWORD written = 0;
    GetOverlappedResult(handle_, &writeRequest_, &written, FALSE);
}

int Win32SerialPortDevice::write(const char* bytes, size_t length, uint32_t timeoutMs) {
    std::memcpy(writeBuffer_.get(), bytes, length);
    COMSTAT status{};
    if (!commStatus(status)) return SerialPort::kStatusIoError;
    // Every byte is written: the driver takes a write larger than the room
    // left in its transmit queue as room appears, so nothing is cut here.
    writeRequest_ = OVERLAPPED{};
    DWORD written = 0;
    if (!WriteFile(handle_, writeBuffer_.get(), static_cast<DWORD>(length), &written, &writeRequest_)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            // Some drivers fail the call yet leave the request pending.
            if (!HasOverlappedIoCompleted(&writeRequest_)) abandonWrite();
            clearErrorState();
            noteError(error);
            return SerialPort::kStatusIoError;
        }
    }
    traceLink(LinkTraceEvent::sent, writeBuffer_.get(), length);
    // Done once the request has completed and the transmit queue is empty.
    const uint32_t start = tickCount();
    for (;;) {
        if (HasOverlappedIoCompleted(&writeRequest_)) {
            if (!GetOverlappedResult(handle_, &writeRequest_, &written, FALSE)) {
                noteError(GetLastError());
                return SerialPort::kStatusIoError;
            }
            if (!commStatus(status)) return SerialPort::kStatusIoError;
            if (status.cbOutQue == 0) return SerialPort::kStatusDone;
        }
        if (elapsedSince(start) > timeoutMs) {
            abandonWrite();
            PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
            if (!deviceLost_) lastError_ = path_ + ": output not sent within " + std::to_string(timeoutMs) + " ms";
            return SerialPort::kStatusTimeout;
        }
        sleepMs(1);
        pumpMessages();
    }
}

uint32_t Win32SerialPortDevice::queuedInput() {
    COMSTAT status{};
    if (!commStatus(status)) return 0;
    return status.cbInQue;
}

bool Win32SerialPortDevice::lineErrorsSinceLastLook() {
    const bool seen = lineErrors_;
    lineErrors_ = false;
    return seen;
}

int Win32SerialPortDevice::read(char* buffer, uint32_t count) {
    OVERLAPPED request{};
    request.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (request.hEvent == nullptr) {
        lastError_ = errorText(path_, GetLastError());
        return -1;
    }
    DWORD got = 0;
    int result = -1;
    if (ReadFile(handle_, buffer, count, &got, &request)) {
        result = static_cast<int>(got);
    } else {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            // The read time-outs make it end at once with what was queued.
            if (GetOverlappedResult(handle_, &request, &got, TRUE)) {
                result = static_cast<int>(got);
            } else {
                noteError(GetLastError());
            }
        } else {
            clearErrorState();
            noteError(error);
        }
    }
    CloseHandle(request.hEvent);
    return result;
}

bool Win32SerialPortDevice::waitReadable(uint32_t timeoutMs) {
    // The driver's queue is looked at every millisecond or so.
    const uint32_t start = tickCount();
    for (;;) {
        COMSTAT status{};
        if (!commStatus(status)) return false;
        if (status.cbInQue > 0) return true;
        if (elapsedSince(start) >= timeoutMs) return false;
        sleepMs(1);
    }
}

}  // namespace

std::unique_ptr<SerialPortDevice> SerialPortDevice::open(int portNumber, const SerialLineSettings& line,
                                                         std::string& lastError, bool& deviceLost) {
    BYTE byteSize = 0;
    BYTE parity = 0;
    BYTE stopBits = 0;
    if (!byteSizeFor(line.dataBits, byteSize) || !parityFor(line.parity, parity) ||
        !stopBitsFor(line.stopBits, stopBits)) {
        lastError = "line settings not supported";
        return nullptr;
    }
    const std::string path = comPortDevicePath(portNumber);
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        noteDeviceOpenFailure(describeDeviceAccessProblem(path, static_cast<int>(error)));
        lastError = errorText(path, error);
        return nullptr;
    }
    auto abandon = [&](DWORD error) -> std::unique_ptr<SerialPortDevice> {
        noteDeviceOpenFailure(describeDeviceAccessProblem(path, static_cast<int>(error)));
        lastError = errorText(path, error);
        CloseHandle(handle);
        return nullptr;
    };

    SetupComm(handle, kDriverReceiveQueue, kDriverTransmitQueue);
    SetCommMask(handle, 0);
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!GetCommState(handle, &settings)) return abandon(GetLastError());
    if (line.resetSettings) settings = DCB{};
    settings.DCBlength = sizeof settings;
    settings.BaudRate = static_cast<DWORD>(line.baudRate);
    settings.ByteSize = byteSize;
    settings.Parity = parity;
    settings.StopBits = stopBits;
    settings.fBinary = TRUE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fRtsControl = RTS_CONTROL_ENABLE;

    // Reads return at once with whatever has been received.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(handle, &timeouts)) return abandon(GetLastError());
    if (!SetCommState(handle, &settings)) return abandon(GetLastError());

    // Line errors from before this open are not this open's.
    DWORD errors = 0;
    ClearCommError(handle, &errors, nullptr);
    deviceLost = false;
    return std::make_unique<Win32SerialPortDevice>(handle, path, lastError, deviceLost);
}

}  // namespace korvane
