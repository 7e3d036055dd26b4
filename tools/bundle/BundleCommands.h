#pragma once

#include <ostream>
#include <string>

namespace korvane::bundletool {

struct PackOptions {
    bool makePackingList = true;  // make a "PACKINGLIST" when the folder has none
    bool check = true;            // refuse a packing list the loader could not load
};

// The three commands of korvane-bundle. Each returns its exit status, 0 done
// or 1 failed, and writes what it did to `out` and every problem to `err`.

// The folder's regular files as entries: "PACKINGLIST" first, then the others
// by name. Nothing is written when any file cannot be packed.
int packFolder(const std::string& folder, const std::string& bundlePath, const PackOptions& options, std::ostream& out,
               std::ostream& err);

// One line per entry: the name, a tab, the size in bytes; by name.
int listBundle(const std::string& bundlePath, std::ostream& out, std::ostream& err);

// Every entry as a file of the folder (created when missing). Names that are
// no plain file name are refused, and existing files are kept unless `replace`.
int unpackBundle(const std::string& bundlePath, const std::string& folder, bool replace, std::ostream& out,
                 std::ostream& err);

}  // namespace korvane::bundletool
