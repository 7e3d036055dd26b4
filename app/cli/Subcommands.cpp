#include "app/cli/CommandLine.h"

namespace korvane {

// Each subcommand lives in its own file; this list only puts them in order.
const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> commands = {
    };
    return commands;
}

}  // namespace korvane
