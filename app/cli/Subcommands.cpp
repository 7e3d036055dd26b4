#include "app/cli/CheckCommand.h"
#include "app/cli/CommandLine.h"
#include "app/cli/FetchFileCommand.h"
#include "app/cli/IdentifyCommand.h"
#include "app/cli/LoadCommand.h"
#include "app/cli/PortsCommand.h"

namespace korvane {

// Each subcommand lives in its own file; this list only puts them in order.
const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> commands = {
        portsSubcommand(),
        checkSubcommand(),
        identifySubcommand(),
        fetchFileSubcommand(),
        loadSubcommand(),
    };
    return commands;
}

}  // namespace korvane
