#pragma once

#include <string>

namespace korvane {

// The operating system's own text for an error number (errno; on Windows a
// system error code, as GetLastError gives it), without a trailing line end.
std::string systemErrorText(int error);

}  // namespace korvane
