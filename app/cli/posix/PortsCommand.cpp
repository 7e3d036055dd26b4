#include "app/cli/PortsCommand.h"

#include "platform/ComPortDevices.h"
#include "platform/DeviceAccess.h"

#include <cstdio>
#include <cstdlib>
#include <limits.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>

namespace korvane {
namespace {

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// "/dev/ttyS<k>" gives k, anything else -1.
long ttySIndex(const std::string& device) {
    static const std::string prefix = "/dev/ttyS";
    if (device.compare(0, prefix.size(), prefix) != 0 || device.size() == prefix.size()) return -1;
    char* end = nullptr;
    const long index = std::strtol(device.c_str() + prefix.size(), &end, 10);
    return *end == '\0' ? index : -1;
}

// Whether this user may open the device, and why not. Opening it to find out
// would raise the modem lines of whatever is connected, so only its
// permissions are asked.
std::string accessNote(const std::string& device, std::map<std::string, DeviceAccessProblem>& refused) {
    const int error = deviceAccessError(device);
    if (error == 0) return "  (this user can open it)";
    const DeviceAccessProblem problem = describeDeviceAccessProblem(device, error);
    refused.emplace(problem.device, problem);
    return "  (this user cannot open it: " + problem.reason + ")";
}

int runPorts(const CommonOptions&, const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "korvane-load ports: unexpected argument \"%s\"\n", args.front().c_str());
        return kExitUsage;
    }
    const std::string folder = comPortDeviceFolder();
    struct stat folderInfo {};
    const bool folderPresent = ::stat(folder.c_str(), &folderInfo) == 0 && S_ISDIR(folderInfo.st_mode);
    std::printf("Device folder: %s%s\n", folder.c_str(), folderPresent ? "" : " (not present)");

    std::map<int, std::string> lines;
    std::set<std::string> reached;
    std::map<std::string, DeviceAccessProblem> refused;
    for (const ComPortMapping& mapping : mappedComPorts()) {
        std::string line = "com" + std::to_string(mapping.portNumber) + " -> " + mapping.target;
        if (mapping.resolvedPath.empty()) {
            line += "  (device missing)";
        } else {
            if (mapping.resolvedPath != mapping.target) line += "  (" + mapping.resolvedPath + ")";
            line += accessNote(mapping.resolvedPath, refused);
            reached.insert(mapping.resolvedPath);
        }
        lines[mapping.portNumber] = line;
    }
    const std::vector<std::string> present = presentSerialDevices();
    for (const std::string& device : present) {
        const long index = ttySIndex(device);
        if (index < 0 || index + 1 > kLastComPort || lines.count(static_cast<int>(index) + 1) != 0) continue;
        const int number = static_cast<int>(index) + 1;
        lines[number] = device + "  (default, no com" + std::to_string(number) + " entry)" + accessNote(device, refused);
        reached.insert(canonical(device));
    }

    std::printf("Port numbers:\n");
    if (lines.empty()) std::printf("  (none)\n");
    for (const auto& [number, line] : lines) std::printf("  %3d  %s\n", number, line.c_str());

    std::printf("Serial devices without a port number:\n");
    bool anyUnreached = false;
    for (const std::string& device : present) {
        if (reached.count(canonical(device)) != 0) continue;
        std::printf("  %s%s\n", device.c_str(), accessNote(device, refused).c_str());
        anyUnreached = true;
    }
    if (!anyUnreached) std::printf("  (none)\n");
    std::printf("To give a device number N: ln -s DEVICE %s/comN\n", folder.c_str());
    for (const auto& [device, problem] : refused)
        if (!problem.remedy.empty()) std::printf("%s: %s\n", device.c_str(), problem.remedy.c_str());
    return kExitSuccess;
}

}  // namespace

Subcommand portsSubcommand() {
    return {"ports", "ports", "COM port numbers and the serial devices present", &runPorts};
}

}  // namespace korvane
