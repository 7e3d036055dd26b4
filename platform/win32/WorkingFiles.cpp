#include "platform/WorkingFiles.h"

#include "platform/SystemErrorText.h"

#include <windows.h>

namespace korvane {
namespace {

std::string lastErrorText() { return systemErrorText(static_cast<int>(GetLastError())); }

bool isGoneError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

bool isPlainFileName(const std::string& name) {
    // Windows also takes a backslash as a separator and a colon as a drive
    // or stream mark.
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool removeFile(const std::string& name) { return DeleteFileA(name.c_str()) || isGoneError(GetLastError()); }

bool fileExists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool readWholeFile(const std::string& name, std::vector<uint8_t>& data, std::string& errorText) {
    data.clear();
    const HANDLE file =
        CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errorText = lastErrorText();
        return false;
    }
    uint8_t buffer[65536];
    while (true) {
        DWORD count = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &count, nullptr)) {
            errorText = lastErrorText();
            CloseHandle(file);
            data.clear();
            return false;
        }
        if (count == 0) break;
        data.insert(data.end(), buffer, buffer + count);
    }
    CloseHandle(file);
    return true;
}

bool writePrivateFile(const std::string& name, std::span<const uint8_t> data, std::string& errorText) {
    if (!isPlainFileName(name)) {
        errorText = "The name is not a plain file name.";
        return false;
    }
    if (!removeFile(name)) {
        errorText = lastErrorText();
        return false;
    }
    // Hidden from the operator's folder view; CREATE_NEW refuses anything
    // put in the name's place meanwhile.
    const HANDLE file =
        CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errorText = lastErrorText();
        return false;
    }
    size_t written = 0;
    while (written < data.size()) {
        const size_t chunk = data.size() - written;
        const DWORD wanted = chunk > 0x40000000u ? 0x40000000u : static_cast<DWORD>(chunk);
        DWORD count = 0;
        if (!WriteFile(file, data.data() + written, wanted, &count, nullptr) || count == 0) {
            errorText = count == 0 && GetLastError() == ERROR_SUCCESS ? "Nothing could be written." : lastErrorText();
            CloseHandle(file);
            DeleteFileA(name.c_str());
            return false;
        }
        written += count;
    }
    if (!CloseHandle(file)) {
        errorText = lastErrorText();
        DeleteFileA(name.c_str());
        return false;
    }
    // The attribute given at creation is the one the file keeps; setting it
    // again covers file systems that ignore it there.
    SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_HIDDEN);
    return true;
}

}  // namespace korvane
