// Reads arbitrary bytes as a bundle (the Equinox and Verifone packages).
#include "pad/Bundle.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvane;
    // Every entry read lies inside the bundle; a refusal always says why.
    const ByteArray bundle(data, data + size);
    BundleEntries entries;
    std::string whyNot;
    const bool read = readBundle(bundle, entries, whyNot);
    if (read != whyNot.empty()) std::abort();
    size_t stored = 0;
    for (const auto& [name, bytes] : entries) stored += name.size() + bytes.size();
    if (stored > size) std::abort();
    return 0;
}
