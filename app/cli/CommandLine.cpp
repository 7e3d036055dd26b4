#include "app/cli/CommandLine.h"

#include "app/cli/StderrTrace.h"

#include "platform/InstallationConfig.h"
#include "platform/TimingTable.h"
#include "platform/Version.h"

#include <cstdio>

namespace korvane {
namespace {

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: korvane-load [--config FILE] [--trace] COMMAND [ARGS]\n"
                 "       korvane-load --help | --version\n\n"
                 "Loads and checks payment PIN pads without the desktop window.\n\n");
    if (subcommands().empty()) {
        std::fprintf(out, "This build has no commands yet.\n");
    } else {
        std::fprintf(out, "Commands:\n");
        for (const Subcommand& command : subcommands())
            std::fprintf(out, "  korvane-load %-44s %s\n", command.usage.c_str(), command.summary.c_str());
    }
    std::fprintf(out,
                 "\nCommon options:\n"
                 "  --config FILE   installation configuration (else %s,\n"
                 "                  else %s)\n"
                 "  --trace         print every frame and byte on the pad link to standard error\n"
                 "\nExit status: 0 success, 1 failure, 2 usage or configuration error.\n",
                 installationConfigEnvForHelp().c_str(), defaultInstallationConfigPathForHelp().c_str());
}

}  // namespace

int runCommandLine(int argc, char** argv) {
    CommonOptions common;
    std::string commandName;
    std::vector<std::string> rest;
    bool wantHelp = false;
    bool wantVersion = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--config") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "korvane-load: --config needs a file name\n");
                return kExitUsage;
            }
            common.configPath = argv[++i];
        } else if (argument.rfind("--config=", 0) == 0) {
            common.configPath = argument.substr(9);
        } else if (argument == "--trace") {
            common.trace = true;
        } else if (commandName.empty() && (argument == "--help" || argument == "-h")) {
            wantHelp = true;
        } else if (commandName.empty() && argument == "--version") {
            wantVersion = true;
        } else if (commandName.empty() && !argument.empty() && argument[0] == '-') {
            std::fprintf(stderr, "korvane-load: unknown option \"%s\"\n", argument.c_str());
            printUsage(stderr);
            return kExitUsage;
        } else if (commandName.empty()) {
            commandName = argument;
        } else {
            rest.push_back(argument);
        }
    }

    const std::string& notice = TimingTable::instance().notice();
    if (!notice.empty()) std::fprintf(stderr, "%s\n", notice.c_str());

    if (wantVersion) {
        std::printf("korvane-load %s\n", kProgramVersion);
        return kExitSuccess;
    }
    if (wantHelp) {
        printUsage(stdout);
        return kExitSuccess;
    }
    if (commandName.empty()) {
        printUsage(stderr);
        return kExitUsage;
    }
    for (const Subcommand& command : subcommands()) {
        if (command.name != commandName) continue;
        // Once for every subcommand: those that never open a pad simply print nothing.
        if (common.trace) installStderrTrace();
        return command.run(common, rest);
    }
    std::fprintf(stderr, "korvane-load: unknown command \"%s\"\n", commandName.c_str());
    printUsage(stderr);
    return kExitUsage;
}

}  // namespace korvane
