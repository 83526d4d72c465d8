#pragma once
#include <cstdint>

namespace vornik {

// Samples a grey image through an affine map: output pixel (x, y) is the
// bilinear value of `source` at (m[0] x + m[1] y + m[2], m[3] x + m[4] y +
// m[5]), pixel centres at integers, with positions beyond the border moved
// onto its edge. Weights in 1/256 steps, rounded once. Writes outWidth x
// outHeight bytes; nothing for an empty source or output.
void warpAffineGray(const uint8_t* source, int32_t width, int32_t height, const double m[6],
                    int32_t outWidth, int32_t outHeight, uint8_t* out);

}  // namespace vornik
