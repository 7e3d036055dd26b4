#pragma once

#include <string>

namespace korvane {

// printf-style formatting into a string, for the error and wire texts whose
// exact form is fixed by their printf patterns.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace korvane
