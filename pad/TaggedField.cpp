#include "pad/TaggedField.h"

#include "pad/ControlChars.h"

namespace korvane {

std::string findTaggedField(std::string_view reply, std::string_view tag) {
    std::string marker(1, kFs);
    marker += tag;
    const size_t found = reply.find(marker);
    if (found == std::string_view::npos) return {};
    const size_t start = found + marker.size();
    const size_t end = reply.find_first_of(std::string_view("\x1c\x03", 2), start);
    return std::string(reply.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

}  // namespace korvane
