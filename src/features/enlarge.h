#pragma once
#include <cstdint>
#include <vector>

namespace vornik {

// Doubles a grey image in both directions, bilinear between pixel centres:
// output pixel X sits at source position (X - 0.5) / 2, the inverse of the
// pyramid's halving, so every output is (9 a + 3 b + 3 c + d + 8) / 16 of its
// four nearest source pixels, with the edge pixels repeated beyond the
// border. `out` holds 2 width x 2 height bytes. Sizes below 1 write nothing.
void enlargeDouble(const uint8_t* source, int32_t width, int32_t height, uint8_t* out);

// The window of windowWidth x windowHeight pixels of a width x height grey
// image whose centre is nearest (centreX, centreY) while it stays inside the
// image. Writes its pixels to `out` (resized) and its top-left corner;
// false, with nothing written, when the window does not fit the image.
bool cutWindow(const uint8_t* source, int32_t width, int32_t height, float centreX, float centreY,
               int32_t windowWidth, int32_t windowHeight, std::vector<uint8_t>* out, int32_t* left,
               int32_t* top);

}  // namespace vornik
