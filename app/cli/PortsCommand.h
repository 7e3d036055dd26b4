#pragma once

#include "app/cli/CommandLine.h"

namespace korvane {

// `korvane-load ports`: which number reaches which device, and the serial
// devices present that no number reaches yet.
Subcommand portsSubcommand();

}  // namespace korvane
