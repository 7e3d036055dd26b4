#include "tools/bundle/PackingList.h"

#include <set>

namespace korvane::bundletool {

std::vector<std::string> packingListNames(const std::string& text) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (end < text.size() && !line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) names.push_back(line);
        start = end + 1;
    }
    return names;
}

std::string packingListText(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += name + "\n";
    return text;
}

std::vector<std::string> packingOrder(const std::map<std::string, size_t>& sizes) {
    std::vector<std::string> names;
    std::vector<std::string> empty;
    for (const auto& [name, size] : sizes) (size == 0 ? empty : names).push_back(name);
    names.insert(names.end(), empty.begin(), empty.end());
    return names;
}

std::vector<std::string> packingListProblems(const std::vector<std::string>& names,
                                             const std::map<std::string, size_t>& sizes) {
    std::vector<std::string> problems;
    std::set<std::string> listed;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (!listed.insert(name).second) {
            problems.push_back("the packing list names \"" + name + "\" twice");
            continue;
        }
        const auto found = sizes.find(name);
        if (found == sizes.end()) {
            problems.push_back("the packing list names \"" + name + "\", which is not in the bundle");
            continue;
        }
        if (found->second == 0 && i + 1 != names.size())
            problems.push_back("\"" + name +
                               "\" is empty but not the packing list's last name: the loader sends nothing for an "
                               "empty file, so only the last one may be empty");
    }
    for (const auto& [name, size] : sizes)
        if (listed.count(name) == 0) problems.push_back("\"" + name + "\" is not in the packing list");
    return problems;
}

}  // namespace korvane::bundletool
