#pragma once

#include "pad/LinkTrace.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

// One trace line: milliseconds since tracing began, the direction, and the
// bytes through renderControlChars, e.g. "   1042 ms -> [SX]07.[EX]0".
std::string formatTraceLine(uint32_t elapsedMs, LinkTraceEvent event, const char* bytes, size_t length);

// --trace: every byte on the pad link goes to standard error from now on.
// The command line installs it for whichever subcommand runs.
void installStderrTrace();

}  // namespace korvane
