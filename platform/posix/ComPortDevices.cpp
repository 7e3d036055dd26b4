#include "platform/ComPortDevices.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {
namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// "com" followed by the number without leading zeros, as the lookup builds it.
int portNumberOfEntry(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "com") != 0 || name[3] == '0') return 0;
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number <= kLastComPort ? number : 0;
}

std::string canonicalPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return {};
    return resolved;
}

std::string linkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof(target) - 1);
    if (length < 0) return path;
    return std::string(target, static_cast<size_t>(length));
}

// The kernel makes ttyS nodes for every possible 8250 line; the sysfs "type"
// attribute is 0 when no UART answered at that address.
bool isPlaceholderUart(const std::string& name) {
    std::ifstream typeFile("/sys/class/tty/" + name + "/type");
    int type = -1;
    if (!(typeFile >> type)) return false;
    return type == 0;
}

struct DeviceName {
    size_t kind;  // index of its prefix
    long number;
    std::string name;
};

}  // namespace

std::string comPortDeviceFolder() {
    const std::string explicitFolder = environmentValue(kDeviceFolderEnv);
    if (!explicitFolder.empty()) return explicitFolder;
    const std::string configHome = environmentValue("XDG_CONFIG_HOME");
    if (!configHome.empty()) return configHome + "/korvane-field-loader/devices";
    return environmentValue("HOME") + "/.config/korvane-field-loader/devices";
}

std::string comPortDevicePath(int portNumber) {
    if (portNumber < kFirstComPort || portNumber > kLastComPort) return {};
    const std::string entry = comPortDeviceFolder() + "/com" + std::to_string(portNumber);
    struct stat info {};
    if (::lstat(entry.c_str(), &info) == 0) return entry;
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::vector<ComPortMapping> mappedComPorts() {
    std::vector<ComPortMapping> mappings;
    const std::string folder = comPortDeviceFolder();
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return mappings;
    while (const dirent* entry = ::readdir(directory)) {
        const int number = portNumberOfEntry(entry->d_name);
        if (number == 0) continue;
        ComPortMapping mapping;
        mapping.portNumber = number;
        mapping.entryPath = folder + "/" + entry->d_name;
        mapping.target = linkTarget(mapping.entryPath);
        mapping.resolvedPath = canonicalPath(mapping.entryPath);
        mappings.push_back(std::move(mapping));
    }
    ::closedir(directory);
    std::sort(mappings.begin(), mappings.end(),
              [](const ComPortMapping& a, const ComPortMapping& b) { return a.portNumber < b.portNumber; });
    return mappings;
}

std::vector<std::string> presentSerialDevices() {
    static const char* const kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};
    std::vector<DeviceName> found;
    DIR* directory = ::opendir("/dev");
    if (directory == nullptr) return {};
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        for (size_t kind = 0; kind < std::size(kPrefixes); ++kind) {
            const std::string start = kPrefixes[kind];
            if (name.size() <= start.size() || name.compare(0, start.size(), start) != 0) continue;
            const std::string digits = name.substr(start.size());
            if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
            if (start == "ttyS" && isPlaceholderUart(name)) continue;
            found.push_back({kind, std::strtol(digits.c_str(), nullptr, 10), name});
        }
    }
    ::closedir(directory);
    std::sort(found.begin(), found.end(), [](const DeviceName& a, const DeviceName& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.number < b.number;
    });
    std::vector<std::string> paths;
    for (const DeviceName& device : found) paths.push_back("/dev/" + device.name);
    return paths;
}

}  // namespace korvane
