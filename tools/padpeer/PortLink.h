#pragma once

#include <string>
#include <system_error>

namespace korvane::padpeer {

// Points the device-folder entry `link` at `target` in one rename, an entry
// already there included. A moment without the entry would send a loader
// that opens it to the system's own serial port of that number.
void replacePortLink(const std::string& link, const std::string& target, std::error_code& error);

}  // namespace korvane::padpeer
