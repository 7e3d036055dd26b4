#pragma once

#include <cstdint>
#include <vector>

namespace korvane {

// Binary data carried byte-exact, zero bytes included: images, bundles, files.
using ByteArray = std::vector<uint8_t>;

}  // namespace korvane
