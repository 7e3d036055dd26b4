#pragma once

#include <string>
#include <sys/types.h>

namespace korvane {

// Writes `bytes` to a temporary file beside `path` and renames it over
// `path`, so readers see the old file or the new one, never a partial one.
// False (and nothing changed) when any step fails.
bool replaceFile(const std::string& path, const std::string& bytes, mode_t mode);

}  // namespace korvane
