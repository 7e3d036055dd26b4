#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace korvane::payloadgen {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

// A small RGBA drawing surface for the generated artwork. Integer arithmetic
// only: the pixels must come out the same with any compiler and machine.
// Shape edges are smoothed by 4 x 4 sampling; drawing outside is clipped.
class Canvas {
public:
    Canvas(int width, int height, Rgba background);

    int width() const { return width_; }
    int height() const { return height_; }
    Rgba at(int x, int y) const { return pixels_[std::size_t(y) * width_ + x]; }

    void fillRect(int x, int y, int w, int h, Rgba colour);
    // From `top` on the first row to `bottom` on the last.
    void verticalGradient(int x, int y, int w, int h, Rgba top, Rgba bottom);
    void roundedRect(int x, int y, int w, int h, int radius, Rgba colour);
    // Everything outside the rounded rectangle of the whole canvas becomes transparent.
    void roundCorners(int radius);
    // A five-pointed star, point upwards.
    void star(int centreX, int centreY, int outerRadius, Rgba colour);
    // Upper-case letters, digits and a little punctuation of a 5 x 7 font,
    // each cell (glyph and one column of space) `scale` pixels a dot.
    void text(int x, int y, int scale, std::string_view line, Rgba colour);
    static int textWidth(std::string_view line, int scale);

private:
    // `coverage` of 16 samples.
    void blend(int x, int y, Rgba colour, int coverage);
    template <typename Inside>
    void fillShape(int x0, int y0, int x1, int y1, Rgba colour, Inside inside);

    int width_;
    int height_;
    std::vector<Rgba> pixels_;
};

}  // namespace korvane::payloadgen
