#include "platform/TerminationSignal.h"

#include <csignal>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace korvane {
namespace {

constexpr unsigned kControlCExit = 0xC000013Au;  // STATUS_CONTROL_C_EXIT
constexpr int kBreakSignal = 21;                  // SIGBREAK
constexpr int kCloseSignal = SIGTERM;

int writeEnd = -1;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleControl(DWORD event) {
    int signalNumber = 0;
    switch (event) {
    case CTRL_C_EVENT: signalNumber = SIGINT; break;
    case CTRL_BREAK_EVENT: signalNumber = kBreakSignal; break;
    case CTRL_CLOSE_EVENT: signalNumber = kCloseSignal; break;
    default: return FALSE;
    }
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (writeEnd >= 0) _write(writeEnd, &byte, 1);
    // The system ends the process as soon as a close handler returns: stay
    // until the program has ended itself the orderly way (or the system's
    // grace period is over).
    if (event == CTRL_CLOSE_EVENT) Sleep(INFINITE);
    return TRUE;
}

bool bytesWaiting(int readFd) {
    const intptr_t handle = _get_osfhandle(readFd);
    if (handle == -1) return false;
    DWORD waiting = 0;
    return PeekNamedPipe(reinterpret_cast<HANDLE>(handle), nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0;
}

}  // namespace

int installTerminationSignalPipe() {
    static int readEnd = -1;
    if (readEnd >= 0) return readEnd;
    int fds[2];
    if (_pipe(fds, 256, _O_BINARY | _O_NOINHERIT) != 0) return -1;
    readEnd = fds[0];
    writeEnd = fds[1];
    if (!SetConsoleCtrlHandler(onConsoleControl, TRUE)) {
        _close(fds[0]);
        _close(fds[1]);
        readEnd = writeEnd = -1;
        return -1;
    }
    return readEnd;
}

int takeTerminationSignal(int readFd) {
    int last = 0;
    unsigned char byte = 0;
    // An anonymous pipe cannot be made non-blocking: only what is there is read.
    while (bytesWaiting(readFd) && _read(readFd, &byte, 1) == 1) last = byte;
    return last;
}

void endBySignal(int) { ExitProcess(kControlCExit); }

}  // namespace korvane
