#pragma once

#include <optional>
#include <string>

namespace korvane {

// True when `fd` is a terminal, so a question can be put to someone there.
bool isTerminal(int fd);

// Reads one line (without its line end) from `fd`. Gives nothing at the end
// of the input, on a read error, or as soon as `interruptFd` (when not -1)
// becomes readable: a Ctrl+C arriving through the signal pipe abandons the
// question instead of waiting for a line that may never come.
std::optional<std::string> readLine(int fd, int interruptFd);

}  // namespace korvane
