#pragma once
#include <cmath>
#include <cstdint>
#include <memory>

#include "features/gray_image.h"
#include "features/random.h"

namespace vornik {
namespace testing_images {

// Smooth, structured grey texture (random lattice values upsampled
// bilinearly, plus two sinusoids), so that both the correlation search and
// the gradient-based refinement have something to lock on to.
inline std::unique_ptr<GrayImage> makeTexture(int32_t width, int32_t height, uint32_t seed,
                                              int32_t cell = 6) {
  Random random(seed);
  const int32_t gw = width / cell + 2;
  const int32_t gh = height / cell + 2;
  std::unique_ptr<float[]> grid(new float[static_cast<size_t>(gw) * gh]);
  for (int32_t i = 0; i < gw * gh; ++i) grid[i] = static_cast<float>(random.uniform(256));
  auto image = std::make_unique<GrayImage>(width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const float gx = static_cast<float>(x) / cell;
      const float gy = static_cast<float>(y) / cell;
      const int32_t ix = static_cast<int32_t>(gx);
      const int32_t iy = static_cast<int32_t>(gy);
      const float fx = gx - ix;
      const float fy = gy - iy;
      const float a = grid[iy * gw + ix] * (1 - fx) + grid[iy * gw + ix + 1] * fx;
      const float b = grid[(iy + 1) * gw + ix] * (1 - fx) + grid[(iy + 1) * gw + ix + 1] * fx;
      float v = a * (1 - fy) + b * fy;
      v = 0.7f * v + 30.0f * std::sin(0.31f * x + 0.17f * y) +
          20.0f * std::cos(0.11f * x - 0.23f * y) + 10.0f;
      image->pixels[static_cast<size_t>(y) * width + x] =
          static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
  return image;
}

// Copy of `source` moved by (dx, dy) pixels (bilinear, edges clamped), with
// `offset` added to every grey value.
inline std::unique_ptr<GrayImage> shiftImage(const GrayImage& source, float dx, float dy,
                                             int32_t offset = 0) {
  auto image = std::make_unique<GrayImage>(source.width, source.height);
  for (int32_t y = 0; y < source.height; ++y) {
    for (int32_t x = 0; x < source.width; ++x) {
      float sx = x - dx;
      float sy = y - dy;
      sx = sx < 0 ? 0 : (sx > source.width - 1 ? source.width - 1 : sx);
      sy = sy < 0 ? 0 : (sy > source.height - 1 ? source.height - 1 : sy);
      const int32_t ix = static_cast<int32_t>(sx);
      const int32_t iy = static_cast<int32_t>(sy);
      const int32_t ix1 = ix + 1 < source.width ? ix + 1 : ix;
      const int32_t iy1 = iy + 1 < source.height ? iy + 1 : iy;
      const float fx = sx - ix;
      const float fy = sy - iy;
      const float v = source.at(ix, iy) * (1 - fx) * (1 - fy) + source.at(ix1, iy) * fx * (1 - fy) +
                      source.at(ix, iy1) * (1 - fx) * fy + source.at(ix1, iy1) * fx * fy + offset;
      image->pixels[static_cast<size_t>(y) * source.width + x] =
          static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : std::lround(v)));
    }
  }
  return image;
}

}  // namespace testing_images
}  // namespace vornik
