#include "platform/SystemErrorText.h"

#include <windows.h>

namespace korvane {

std::string systemErrorText(int error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
        nullptr);
    std::string result = length > 0 && text != nullptr ? std::string(text, length) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    if (result.empty()) result = "Unknown error";
    return result;
}

}  // namespace korvane
