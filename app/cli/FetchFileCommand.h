#pragma once

#include "app/cli/CommandLine.h"

namespace korvane {

// `korvane-load fetch-file NAME --output PATH`: one named file from the load
// server, written to PATH; the technician's check that this PC reaches the
// server with the right secret.
Subcommand fetchFileSubcommand();

}  // namespace korvane
