#pragma once

#include "app/cli/CommandLine.h"

namespace korvane {

// `korvane-load identify --port N`: what an Ingenico button press learns
// first, the pad's identification fields, without loading anything.
Subcommand identifySubcommand();

}  // namespace korvane
