#include "platform/ComPortDevices.h"

#include <algorithm>
#include <windows.h>

namespace korvane {
namespace {

// "COM" followed by a number 1 to 255 without leading zeros, as the system names its ports.
int portNumberOfName(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 || name[3] == '0') return 0;
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number <= kLastComPort ? number : 0;
}

// Every DOS device name the system knows.
std::vector<std::string> dosDeviceNames() {
    std::vector<char> names(65536);
    for (;;) {
        const DWORD length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
        if (length != 0) {
            std::vector<std::string> list;
            for (size_t at = 0; at < length && names[at] != '\0'; at += list.back().size() + 1)
                list.emplace_back(names.data() + at);
            return list;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() >= (1u << 24)) return {};
        names.resize(names.size() * 2);
    }
}

std::string dosDeviceTarget(const std::string& name) {
    char target[1024];
    const DWORD length = QueryDosDeviceA(name.c_str(), target, sizeof target);
    return length != 0 ? std::string(target) : std::string();
}

}  // namespace

// Windows names its ports itself: there is no device folder.
std::string comPortDeviceFolder() { return {}; }

std::string comPortDevicePath(int portNumber) {
    if (portNumber < kFirstComPort || portNumber > kLastComPort) return {};
    return "\\\\.\\COM" + std::to_string(portNumber);
}

std::vector<ComPortMapping> mappedComPorts() {
    std::vector<ComPortMapping> mappings;
    for (const std::string& name : dosDeviceNames()) {
        const int number = portNumberOfName(name);
        if (number == 0) continue;
        ComPortMapping mapping;
        mapping.portNumber = number;
        mapping.entryPath = comPortDevicePath(number);
        mapping.target = dosDeviceTarget(name);
        mapping.resolvedPath = mapping.target;
        mappings.push_back(std::move(mapping));
    }
    std::sort(mappings.begin(), mappings.end(),
              [](const ComPortMapping& a, const ComPortMapping& b) { return a.portNumber < b.portNumber; });
    return mappings;
}

std::vector<std::string> presentSerialDevices() {
    std::vector<std::string> names;
    for (const ComPortMapping& mapping : mappedComPorts()) names.push_back("COM" + std::to_string(mapping.portNumber));
    return names;
}

}  // namespace korvane
