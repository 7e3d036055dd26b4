#include "tools/payload-gen/Canvas.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <stdexcept>

namespace korvane::payloadgen {

namespace {

struct Glyph {
    char character;
    std::array<const char*, 7> rows;
};

// clang-format off
constexpr Glyph kFont[] = {
    {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'B', {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "}},
    {'C', {" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "}},
    {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {'F', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "}},
    {'G', {" ### ", "#   #", "#    ", "# ###", "#   #", "#   #", " ####"}},
    {'H', {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'I', {" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'J', {"  ###", "   # ", "   # ", "   # ", "   # ", "#  # ", " ##  "}},
    {'K', {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {'N', {"#   #", "#   #", "##  #", "# # #", "#  ##", "#   #", "#   #"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {'Q', {" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"}},
    {'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'V', {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'W', {"#   #", "#   #", "#   #", "# # #", "# # #", "# # #", " # # "}},
    {'X', {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"}},
    {'Y', {"#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'Z', {"#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"}},
    {'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
    {'?', {" ### ", "#   #", "    #", "   # ", "  #  ", "     ", "  #  "}},
    {'!', {"  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "     ", "  #  "}},
    {'.', {"     ", "     ", "     ", "     ", "     ", " ##  ", " ##  "}},
    {',', {"     ", "     ", "     ", "     ", " ##  ", "  #  ", " #   "}},
    {'-', {"     ", "     ", "     ", "#####", "     ", "     ", "     "}},
    {'/', {"     ", "    #", "   # ", "  #  ", " #   ", "#    ", "     "}},
    {' ', {"     ", "     ", "     ", "     ", "     ", "     ", "     "}},
};
// clang-format on

const Glyph& glyphFor(char c) {
    for (const Glyph& glyph : kFont)
        if (glyph.character == c) return glyph;
    throw std::runtime_error(std::string("no glyph for '") + c + "'");
}

// The ten corners of a star of outer radius 1024 (inner 391), clockwise from the top point.
constexpr std::array<std::array<int, 2>, 10> kStarCorners = {{
    {0, -1024}, {230, -316}, {974, -316}, {372, 121}, {602, 828},
    {0, 391},   {-602, 828}, {-372, 121}, {-974, -316}, {-230, -316},
}};

bool insidePolygon(const std::array<std::array<long, 2>, 10>& corners, long px, long py) {
    bool inside = false;
    for (std::size_t i = 0, j = corners.size() - 1; i < corners.size(); j = i++) {
        const long xi = corners[i][0], yi = corners[i][1], xj = corners[j][0], yj = corners[j][1];
        if ((yi > py) != (yj > py)) {
            // px < xi + (py - yi) * (xj - xi) / (yj - yi), without the division.
            const long lhs = (px - xi) * (yj - yi);
            const long rhs = (py - yi) * (xj - xi);
            if (yj > yi ? lhs < rhs : lhs > rhs) inside = !inside;
        }
    }
    return inside;
}

}  // namespace

Canvas::Canvas(int width, int height, Rgba background)
    : width_(width), height_(height), pixels_(std::size_t(width) * height, background) {}

void Canvas::blend(int x, int y, Rgba colour, int coverage) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || coverage <= 0) return;
    Rgba& pixel = pixels_[std::size_t(y) * width_ + x];
    const int weight = coverage * colour.a;  // out of 16 * 255
    const auto mix = [weight](int over, int under) {
        return static_cast<uint8_t>((over * weight + under * (16 * 255 - weight) + 16 * 255 / 2) / (16 * 255));
    };
    pixel.r = mix(colour.r, pixel.r);
    pixel.g = mix(colour.g, pixel.g);
    pixel.b = mix(colour.b, pixel.b);
    pixel.a = mix(255, pixel.a);
}

template <typename Inside>
void Canvas::fillShape(int x0, int y0, int x1, int y1, Rgba colour, Inside inside) {
    for (int y = std::max(0, y0); y < std::min(height_, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(width_, x1); ++x) {
            int coverage = 0;
            // Sample points at the centres of a 4 x 4 grid, in eighths of a pixel.
            for (int sy = 1; sy < 8; sy += 2)
                for (int sx = 1; sx < 8; sx += 2)
                    if (inside(long(x) * 8 + sx, long(y) * 8 + sy)) ++coverage;
            blend(x, y, colour, coverage);
        }
}

void Canvas::fillRect(int x, int y, int w, int h, Rgba colour) {
    for (int row = std::max(0, y); row < std::min(height_, y + h); ++row)
        for (int column = std::max(0, x); column < std::min(width_, x + w); ++column) blend(column, row, colour, 16);
}

void Canvas::verticalGradient(int x, int y, int w, int h, Rgba top, Rgba bottom) {
    const int span = std::max(1, h - 1);
    for (int row = 0; row < h; ++row) {
        const auto mix = [row, span](int a, int b) {
            return static_cast<uint8_t>((a * (span - row) + b * row) / span);
        };
        fillRect(x, y + row, w, 1,
                 {mix(top.r, bottom.r), mix(top.g, bottom.g), mix(top.b, bottom.b), mix(top.a, bottom.a)});
    }
}

void Canvas::roundedRect(int x, int y, int w, int h, int radius, Rgba colour) {
    // In eighths of a pixel: inside when within the rectangle shrunk by the
    // radius, or within the radius of its nearest point.
    const long left = long(x + radius) * 8, right = long(x + w - radius) * 8;
    const long top = long(y + radius) * 8, bottom = long(y + h - radius) * 8;
    const long r = long(radius) * 8;
    fillShape(x, y, x + w, y + h, colour, [=](long px, long py) {
        const long dx = px < left ? left - px : (px > right ? px - right : 0);
        const long dy = py < top ? top - py : (py > bottom ? py - bottom : 0);
        return dx * dx + dy * dy <= r * r;
    });
}

void Canvas::roundCorners(int radius) {
    const long r = long(radius) * 8;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            int coverage = 0;
            for (int sy = 1; sy < 8; sy += 2)
                for (int sx = 1; sx < 8; sx += 2) {
                    const long px = long(x) * 8 + sx, py = long(y) * 8 + sy;
                    const long left = r, right = long(width_) * 8 - r, top = r, bottom = long(height_) * 8 - r;
                    const long dx = px < left ? left - px : (px > right ? px - right : 0);
                    const long dy = py < top ? top - py : (py > bottom ? py - bottom : 0);
                    if (dx * dx + dy * dy <= r * r) ++coverage;
                }
            if (coverage < 16) {
                Rgba& pixel = pixels_[std::size_t(y) * width_ + x];
                pixel.a = static_cast<uint8_t>(pixel.a * coverage / 16);
            }
        }
}

void Canvas::star(int centreX, int centreY, int outerRadius, Rgba colour) {
    std::array<std::array<long, 2>, 10> corners{};
    for (std::size_t i = 0; i < corners.size(); ++i) {
        corners[i][0] = long(centreX) * 8 + long(kStarCorners[i][0]) * outerRadius * 8 / 1024;
        corners[i][1] = long(centreY) * 8 + long(kStarCorners[i][1]) * outerRadius * 8 / 1024;
    }
    fillShape(centreX - outerRadius, centreY - outerRadius, centreX + outerRadius + 1, centreY + outerRadius + 1,
              colour, [&corners](long px, long py) { return insidePolygon(corners, px, py); });
}

int Canvas::textWidth(std::string_view line, int scale) {
    return line.empty() ? 0 : int(line.size()) * 6 * scale - scale;
}

void Canvas::text(int x, int y, int scale, std::string_view line, Rgba colour) {
    for (char c : line) {
        const Glyph& glyph = glyphFor(c);
        for (int row = 0; row < 7; ++row)
            for (int column = 0; column < 5; ++column)
                if (glyph.rows[row][column] == '#') fillRect(x + column * scale, y + row * scale, scale, scale, colour);
        x += 6 * scale;
    }
}

}  // namespace korvane::payloadgen
