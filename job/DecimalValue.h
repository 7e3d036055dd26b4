#pragma once

#include <string_view>

namespace korvane {

// The usual decimal conversion of an operator's field: leading blanks, an
// optional sign and the digits that follow; text that is no number gives 0.
// A number too large for an int gives the nearest int, so it can never wrap
// into the range a caller accepts.
int decimalValue(std::string_view text);

}  // namespace korvane
