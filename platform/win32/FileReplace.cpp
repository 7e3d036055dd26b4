#include "platform/FileReplace.h"

#include <windows.h>

namespace korvane {
namespace {

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

// Windows keeps no permission bits: `mode` does not apply there.
bool replaceFile(const std::string& path, const std::string& bytes, mode_t) {
    char temporary[MAX_PATH];
    if (GetTempFileNameA(directoryOf(path).c_str(), "kvr", 0, temporary) == 0) return false;
    const HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(temporary);
        return false;
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const size_t chunk = bytes.size() - written;
        DWORD count = 0;
        if (!WriteFile(file, bytes.data() + written, chunk > 0x40000000u ? 0x40000000u : static_cast<DWORD>(chunk),
                       &count, nullptr) ||
            count == 0)
            break;
        written += count;
    }
    const bool complete = written == bytes.size() && FlushFileBuffers(file);
    const bool closed = CloseHandle(file) != 0;
    if (!complete || !closed ||
        !MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary);
        return false;
    }
    return true;
}

}  // namespace korvane
