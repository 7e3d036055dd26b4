#include "app/cli/PortsCommand.h"

#include "platform/ComPortDevices.h"

#include <cstdio>
#include <string>

namespace korvane {
namespace {

// On Windows a port number is the COM port of that number itself: nothing to
// map, so the listing is what the system knows of its COM ports.
int runPorts(const CommonOptions&, const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "korvane-load ports: unexpected argument \"%s\"\n", args.front().c_str());
        return kExitUsage;
    }
    std::printf("Port numbers:\n");
    const std::vector<ComPortMapping> ports = mappedComPorts();
    if (ports.empty()) std::printf("  (none)\n");
    for (const ComPortMapping& port : ports) {
        std::string line = "COM" + std::to_string(port.portNumber);
        if (!port.target.empty()) line += " -> " + port.target;
        std::printf("  %3d  %s\n", port.portNumber, line.c_str());
    }
    std::printf("Port number N opens \\\\.\\COMN (%s for 1).\n", comPortDevicePath(kFirstComPort).c_str());
    return kExitSuccess;
}

}  // namespace

Subcommand portsSubcommand() {
    return {"ports", "ports", "COM port numbers and the serial devices present", &runPorts};
}

}  // namespace korvane
