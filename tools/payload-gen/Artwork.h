#pragma once

#include <cstdint>
#include <vector>

namespace korvane::payloadgen {

// The drawn images: their design lives here, in code, and nowhere else.

// The customer-rating banners: a question and five stars. The small one is
// 481 x 69 RGB, the wide one 1546 x 135 RGBA with rounded, transparent corners.
std::vector<uint8_t> ratingHeaderSmall(bool storedOnly);
std::vector<uint8_t> ratingHeaderWide(bool storedOnly);

// A blank payment-choice button, released or pressed, RGB; the form writes the label over it.
std::vector<uint8_t> choiceButton(int width, int height, bool pressed, bool storedOnly);

}  // namespace korvane::payloadgen
