#pragma once

#include <string>
#include <utility>
#include <vector>

namespace korvane::test {

// One bundle of the Equinox packages: its files in the order the packing
// list names them (the pad asks in that order), and the package's version.
struct EquinoxBundle {
    std::string package;  // the name the load server knows it by
    std::string version;
    std::vector<std::pair<std::string, std::string>> files;  // name, bytes; PACKINGLIST is made from them
    std::string cutShortBy;  // non-empty: the bundle's last entry loses its last bytes, this many
};

// Writes the bundles into the load server's package folder (written by hand
// in the bundle format: eight digits, a 40-byte name, the data) and makes them
// its whole index. Returns the bytes of each bundle as written.
std::vector<std::string> writeEquinoxPackages(const std::string& packagesDir, const std::vector<EquinoxBundle>& bundles);

// The sample set: an FPE and a configuration bundle for PCI2 and PCI3, with a
// file over 65000 bytes holding every byte value, an empty one, a packing list
// with CR LF line ends, and names listed in no sorted order.
std::vector<EquinoxBundle> equinoxSampleBundles();

// The bundle of `package` in `bundles`.
const EquinoxBundle& bundleOf(const std::vector<EquinoxBundle>& bundles, const std::string& package);

// The packing list the bundle carries: its file names, one per line.
std::string packingListOf(const EquinoxBundle& bundle);

}  // namespace korvane::test
