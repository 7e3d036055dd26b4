#include "app/DesktopCommandLine.h"

#include "platform/Version.h"

#include <cstdio>
#include <cstring>

namespace korvane {
namespace {

constexpr char kUsage[] =
    "Usage: korvane-field-loader [-i]\n"
    "       korvane-field-loader --help | --version\n"
    "\n"
    "The desktop tool that loads payment PIN pads: type the COM port number, pick Serial or USB and\n"
    "press the button of the pad's model.\n"
    "\n"
    "  -i         (any case) only check that no other copy runs on this desktop, then end: status 0,\n"
    "             or 1 with a message when one runs\n"
    "  --help     print this text and end\n"
    "  --version  print the version and end\n"
    "\n"
    "The installation configuration is read from $KORVANE_LOADER_CONFIG, else\n"
    "/etc/korvane-field-loader/loader.conf. The COM port text is kept in KorvaneFieldLoaderCfg112.dat\n"
    "in the working directory.\n";

}  // namespace

std::optional<int> answerInformationRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("korvane-field-loader %s\n", kProgramVersion);
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace korvane
