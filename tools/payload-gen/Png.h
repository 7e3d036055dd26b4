#pragma once

#include "tools/payload-gen/Canvas.h"

#include <cstdint>
#include <vector>

namespace korvane::payloadgen {

enum class PngColour : uint8_t { rgb = 2, rgba = 6 };  // the IHDR colour types, 8 bits per sample

// A PNG file of the canvas: IHDR, one IDAT and IEND. Each row's filter is
// chosen among None, Sub and Up by the smallest sum of filtered bytes read as
// signed, which keeps the choice a function of the pixels alone.
std::vector<uint8_t> encodePng(const Canvas& canvas, PngColour colour, bool storedOnly);

}  // namespace korvane::payloadgen
