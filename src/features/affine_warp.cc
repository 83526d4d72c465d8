#include "features/affine_warp.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vornik {

void warpAffineGray(const uint8_t* source, int32_t width, int32_t height, const double m[6],
                    int32_t outWidth, int32_t outHeight, uint8_t* out) {
  if (source == nullptr || out == nullptr || m == nullptr || width < 1 || height < 1 ||
      outWidth < 1 || outHeight < 1) {
    return;
  }
  const double maxX = width - 1;
  const double maxY = height - 1;
  for (int32_t y = 0; y < outHeight; ++y) {
    uint8_t* row = out + static_cast<size_t>(y) * outWidth;
    for (int32_t x = 0; x < outWidth; ++x) {
      double sx = m[0] * x + m[1] * y + m[2];
      double sy = m[3] * x + m[4] * y + m[5];
      // Also catches a map that is not finite: the comparisons fail.
      sx = sx >= 0.0 ? (sx <= maxX ? sx : maxX) : 0.0;
      sy = sy >= 0.0 ? (sy <= maxY ? sy : maxY) : 0.0;
      const int32_t x0 = static_cast<int32_t>(sx);
      const int32_t y0 = static_cast<int32_t>(sy);
      const int32_t x1 = std::min(x0 + 1, width - 1);
      const int32_t y1 = std::min(y0 + 1, height - 1);
      const int32_t fx = static_cast<int32_t>(std::lround((sx - x0) * 256.0));
      const int32_t fy = static_cast<int32_t>(std::lround((sy - y0) * 256.0));
      const uint8_t* a = source + static_cast<size_t>(y0) * width;
      const uint8_t* b = source + static_cast<size_t>(y1) * width;
      const int32_t top = a[x0] * (256 - fx) + a[x1] * fx;
      const int32_t bottom = b[x0] * (256 - fx) + b[x1] * fx;
      row[x] = static_cast<uint8_t>((top * (256 - fy) + bottom * fy + 32768) >> 16);
    }
  }
}

}  // namespace vornik
