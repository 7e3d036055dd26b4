#include "pad/RbaFields.h"

#include "pad/ControlChars.h"

namespace korvane {

std::vector<std::string> splitFields(std::string_view reply, std::string_view delimiters) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t i = 0; i < reply.size(); ++i) {
        if (delimiters.find(reply[i]) == std::string_view::npos) continue;
        fields.emplace_back(reply.substr(start, i - start));
        start = i + 1;
    }
    if (start < reply.size()) fields.emplace_back(reply.substr(start));
    return fields;
}

std::string fieldAt(const std::vector<std::string>& fields, size_t number) {
    if (number == 0 || number > fields.size()) return {};
    return fields[number - 1];
}

std::string_view withoutCheckByte(std::string_view reply) {
    if (reply.size() >= 2 && reply[reply.size() - 2] == kEtx) reply.remove_suffix(1);
    return reply;
}

}  // namespace korvane
