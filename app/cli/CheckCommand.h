#pragma once

#include "app/cli/CommandLine.h"

namespace korvane {

// `korvane-load check [--port N] [--probe-file NAME]`: field diagnosis in one
// command, one line per check with OK or FAIL and the reason: the
// installation configuration, for each load server host the name lookup, the
// TCP connection, the TLS handshake (and the certificate pin) and the mutual
// challenge, proved by fetching and discarding one named file; with --port,
// the COM port and the RBA pad's identification. Registers no load.
Subcommand checkSubcommand();

}  // namespace korvane
