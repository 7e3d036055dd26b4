#pragma once

#include <string>
#include <string_view>

namespace korvane {

// The value of a tagged field in a pad reply: the characters after the first
// FS immediately followed by `tag`, up to the next FS or ETX or the end of the
// reply. Empty when the tag does not occur. Used by the Equinox and the
// Verifone pads alike.
std::string findTaggedField(std::string_view reply, std::string_view tag);

}  // namespace korvane
