#pragma once

#include "app/cli/CommandLine.h"

namespace korvane {

// `korvane-load load`: what pressing a model button does, at the console.
Subcommand loadSubcommand();

}  // namespace korvane
