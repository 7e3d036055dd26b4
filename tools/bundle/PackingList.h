#pragma once

#include <map>
#include <string>
#include <vector>

namespace korvane::bundletool {

// Our packing list, the "PACKINGLIST" entry of an Equinox bundle: the other
// entries' names, one per line, each line ending in LF (a CR before the LF
// is ignored), in the order the pad is to ask for them.
inline constexpr char kPackingListName[] = "PACKINGLIST";

// The names of a packing list's text, blank lines left out.
std::vector<std::string> packingListNames(const std::string& text);

// The text of a packing list naming `names` in that order.
std::string packingListText(const std::vector<std::string>& names);

// The order a made packing list gives: by name, empty files last. The loader
// sends nothing for an empty file and reads the pad's next request as the
// answer to it, so only the last name of a list may be an empty file.
std::vector<std::string> packingOrder(const std::map<std::string, size_t>& sizes);

// What keeps a bundle of these files (name -> size, the packing list left
// out) and this list from loading, one sentence each; empty when nothing does.
std::vector<std::string> packingListProblems(const std::vector<std::string>& names,
                                             const std::map<std::string, size_t>& sizes);

}  // namespace korvane::bundletool
