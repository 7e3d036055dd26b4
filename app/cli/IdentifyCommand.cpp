#include "app/cli/IdentifyCommand.h"

#include "app/cli/ConsoleOperator.h"
#include "app/cli/PortAccessAdvice.h"
#include "pad/RbaPad.h"
#include "pad/SerialPort.h"
#include "job/DecimalValue.h"
#include "job/LoadJob.h"
#include "workflows/PortCheck.h"

#include <cstdio>
#include <string>

namespace korvane {
namespace {

void printLine(const char* label, const std::string& value) { std::printf("%-22s %s\n", label, value.c_str()); }

// A failure is what the window's message box would say.
int fail(const std::string& text) {
    std::printf("%s\n", ConsoleOperator::normaliseLineEnds(text).c_str());
    const std::string advice = portAccessAdvice(text);
    if (!advice.empty()) std::fprintf(stderr, "%s\n", advice.c_str());
    return kExitFailure;
}

int runIdentify(const CommonOptions&, const std::vector<std::string>& args) {
    std::string portText;
    bool portGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--port" && i + 1 < args.size()) {
            portText = args[++i];
            portGiven = true;
        } else if (args[i].rfind("--port=", 0) == 0) {
            portText = args[i].substr(7);
            portGiven = true;
        } else {
            std::fprintf(stderr, "korvane-load identify: unexpected argument \"%s\"\n", args[i].c_str());
            return kExitUsage;
        }
    }
    if (!portGiven) {
        std::fprintf(stderr, "korvane-load identify: --port N is needed\n");
        return kExitUsage;
    }

    // As the port field of the window: the usual decimal conversion, then the port check.
    SerialPort port;
    std::string error;
    if (!checkAndOpenPort(port, decimalValue(portText), kPadBaudRate, error)) return fail(error);
    DeviceInfo device;
    if (!RbaPad::identify(port, device, error)) return fail(error);
    // The pad is left at its idle screen, as after a button press.
    if (!RbaPad::sendReset(port)) std::fprintf(stderr, "korvane-load identify: the pad did not answer \"00.0000\"\n");
    port.close();

    printLine("model:", device.padModel);
    printLine("application version:", device.padAppVersion);
    printLine("app version:", device.appVersion);
    printLine("config version:", device.configVersion);
    printLine("OEM id:", device.oemId);
    return kExitSuccess;
}

}  // namespace

Subcommand identifySubcommand() {
    return {"identify", "identify --port N", "identify the RBA pad on COM port N and print its fields", &runIdentify};
}

}  // namespace korvane
