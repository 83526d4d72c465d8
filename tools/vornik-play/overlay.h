#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "common/image_io.h"

namespace vornik {

struct Bgr {
  uint8_t b, g, r;
};

// Line of `thickness` pixels between two points, clipped to the image (3 channels).
void drawLine(Image* image, double x0, double y0, double x1, double y1, Bgr color, int thickness);

// Closed outline through four corners x0,y0 .. x3,y3.
void drawQuad(Image* image, const std::array<double, 8>& corners, Bgr color, int thickness);

// Text in a 5 x 7 pixel font magnified by `scale`, on a dark box, with its
// top-left corner at (x, y). Letters are shown in upper case; characters
// outside A-Z, 0-9 and " .:-_/%()" are drawn as a box.
void drawText(Image* image, int x, int y, const std::string& text, Bgr color, int scale);

}  // namespace vornik
