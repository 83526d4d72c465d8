#pragma once
#include <cstdint>

namespace vornik {

// Doubles a grey image in both directions, bilinear between pixel centres:
// output pixel X sits at source position (X - 0.5) / 2, the inverse of the
// pyramid's halving, so every output is (9 a + 3 b + 3 c + d + 8) / 16 of its
// four nearest source pixels, with the edge pixels repeated beyond the
// border. `out` holds 2 width x 2 height bytes. Sizes below 1 write nothing.
void enlargeDouble(const uint8_t* source, int32_t width, int32_t height, uint8_t* out);

}  // namespace vornik
