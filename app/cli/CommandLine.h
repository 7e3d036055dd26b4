#pragma once

#include <functional>
#include <string>
#include <vector>

namespace korvane {

// Options every subcommand accepts.
struct CommonOptions {
    std::string configPath;  // --config FILE; empty: the usual lookup
    bool trace = false;      // --trace: every byte on the pad link to standard error
};

// One `korvane-load` subcommand. The handler gets the arguments after the
// subcommand's name (common options already taken out) and returns the exit
// status: 0 success, 1 failure, 2 usage or configuration error.
struct Subcommand {
    std::string name;
    std::string usage;  // e.g. "identify --port N"
    std::string summary;
    std::function<int(const CommonOptions&, const std::vector<std::string>&)> run;
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The subcommands this build has, in the order the help lists them.
const std::vector<Subcommand>& subcommands();

int runCommandLine(int argc, char** argv);

}  // namespace korvane
