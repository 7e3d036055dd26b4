#include "platform/ConsoleInput.h"

#include <io.h>
#include <windows.h>

namespace korvane {
namespace {

constexpr DWORD kPipePollMs = 10;

HANDLE handleOf(int fd) {
    const intptr_t handle = _get_osfhandle(fd);
    return handle == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(handle);
}

bool interrupted(int interruptFd) {
    if (interruptFd < 0) return false;
    DWORD waiting = 0;
    return PeekNamedPipe(handleOf(interruptFd), nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0;
}

}  // namespace

bool isTerminal(int fd) { return _isatty(fd) != 0; }

std::optional<std::string> readLine(int fd, int interruptFd) {
    const HANDLE input = handleOf(fd);
    if (input == INVALID_HANDLE_VALUE) return std::nullopt;
    const bool pipe = GetFileType(input) == FILE_TYPE_PIPE;
    std::string line;
    for (;;) {
        if (interrupted(interruptFd)) return std::nullopt;
        if (pipe) {
            // A pipe read would block past a Ctrl+C: only read what has come.
            DWORD waiting = 0;
            if (PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr) && waiting == 0) {
                Sleep(kPipePollMs);
                continue;
            }
        }
        // A console read ends at the line end, or empty when Ctrl+C breaks it.
        char byte = 0;
        DWORD got = 0;
        if (!ReadFile(input, &byte, 1, &got, nullptr) || got == 0) {
            if (line.empty() || interrupted(interruptFd)) return std::nullopt;
            return line;
        }
        if (byte == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        line.push_back(byte);
    }
}

}  // namespace korvane
