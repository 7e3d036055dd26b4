#include "tools/payload-gen/Artwork.h"

#include "tools/payload-gen/Canvas.h"
#include "tools/payload-gen/Png.h"

#include <string_view>

namespace korvane::payloadgen {

namespace {

constexpr Rgba kStarGold = {250, 196, 30, 255};
constexpr Rgba kWhite = {255, 255, 255, 255};

// The question on the left, five stars on the right, both centred vertically.
void drawRatingBanner(Canvas& canvas, std::string_view question, int scale, int margin, int starRadius,
                      int starSpacing) {
    canvas.text(margin, (canvas.height() - 7 * scale) / 2, scale, question, kWhite);
    const int firstCentre = canvas.width() - margin - starRadius - 4 * starSpacing;
    for (int i = 0; i < 5; ++i) canvas.star(firstCentre + i * starSpacing, canvas.height() / 2, starRadius, kStarGold);
}

}  // namespace

std::vector<uint8_t> ratingHeaderSmall(bool storedOnly) {
    Canvas canvas(481, 69, {20, 40, 90, 255});
    canvas.verticalGradient(0, 0, 481, 69, {28, 56, 120, 255}, {10, 25, 60, 255});
    drawRatingBanner(canvas, "HOW DID WE DO?", 3, 16, 16, 38);
    return encodePng(canvas, PngColour::rgb, storedOnly);
}

std::vector<uint8_t> ratingHeaderWide(bool storedOnly) {
    Canvas canvas(1546, 135, {0, 0, 0, 0});
    canvas.verticalGradient(0, 0, 1546, 135, {0, 128, 128, 255}, {0, 70, 80, 255});
    canvas.fillRect(0, 127, 1546, 8, {250, 196, 30, 255});
    drawRatingBanner(canvas, "HOW DID WE DO TODAY?", 7, 48, 40, 96);
    canvas.roundCorners(24);
    return encodePng(canvas, PngColour::rgba, storedOnly);
}

std::vector<uint8_t> choiceButton(int width, int height, bool pressed, bool storedOnly) {
    Canvas canvas(width, height, kWhite);
    const int radius = height / 5;
    canvas.roundedRect(0, 0, width, height, radius, {70, 80, 95, 255});
    const Rgba top = pressed ? Rgba{120, 135, 155, 255} : Rgba{235, 240, 246, 255};
    const Rgba bottom = pressed ? Rgba{160, 175, 195, 255} : Rgba{180, 192, 206, 255};
    // The face: a gradient clipped to the rounded shape by drawing it row by row under a mask.
    Canvas face(width, height, top);
    face.verticalGradient(0, 0, width, height, top, bottom);
    Canvas mask(width, height, {0, 0, 0, 0});
    const int inset = pressed ? 3 : 2;
    mask.roundedRect(inset, inset, width - 2 * inset, height - 2 * inset, radius - inset, kWhite);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Rgba pixel = face.at(x, y);
            pixel.a = mask.at(x, y).a;
            if (pixel.a > 0) canvas.fillRect(x, y, 1, 1, pixel);
        }
    return encodePng(canvas, PngColour::rgb, storedOnly);
}

}  // namespace korvane::payloadgen
