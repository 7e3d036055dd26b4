#pragma once

#include <string>

namespace korvane {

// What `korvane-load` adds, on standard error, to a message that is the
// operator's "Failed on Com Port Access.": the device path, the operating
// system's reason and the remedy of the open that just failed on this thread.
// Empty for any other message, or when no failed open is known.
std::string portAccessAdvice(const std::string& message);

}  // namespace korvane
