#include "features/enlarge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace vornik {
namespace {

// The slow obvious form: each output pixel's position in the source, its
// four neighbours with the edges clamped, bilinear weights in doubles.
std::vector<uint8_t> enlargeReference(const std::vector<uint8_t>& src, int w, int h) {
  std::vector<uint8_t> out(static_cast<size_t>(4 * w * h));
  auto at = [&](int x, int y) {
    return static_cast<double>(
        src[static_cast<size_t>(std::clamp(y, 0, h - 1) * w + std::clamp(x, 0, w - 1))]);
  };
  for (int y = 0; y < 2 * h; ++y) {
    for (int x = 0; x < 2 * w; ++x) {
      const double sx = (x - 0.5) / 2.0;
      const double sy = (y - 0.5) / 2.0;
      const int x0 = static_cast<int>(std::floor(sx));
      const int y0 = static_cast<int>(std::floor(sy));
      const double fx = sx - x0;
      const double fy = sy - y0;
      const double v = (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) +
                       fy * ((1 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1));
      // Weights are sixteenths, so v * 16 is an exact integer.
      out[static_cast<size_t>(y * 2 * w + x)] =
          static_cast<uint8_t>((static_cast<int>(std::lround(v * 16.0)) + 8) >> 4);
    }
  }
  return out;
}

TEST(EnlargeDouble, MatchesBilinearReferenceOnEverySize) {
  std::mt19937 rng(7);
  const int sizes[][2] = {{1, 1}, {1, 5}, {6, 1}, {2, 2}, {7, 3}, {33, 17}, {64, 48}};
  for (const auto& size : sizes) {
    const int w = size[0];
    const int h = size[1];
    std::vector<uint8_t> src(static_cast<size_t>(w * h));
    for (uint8_t& p : src) p = static_cast<uint8_t>(rng());
    // Extremes as well: the 9-3-3-1 sum of 255s must stay 255.
    if (w * h >= 2) src[0] = 255, src[1] = 0;
    std::vector<uint8_t> out(static_cast<size_t>(4 * w * h), 77);
    enlargeDouble(src.data(), w, h, out.data());
    EXPECT_EQ(out, enlargeReference(src, w, h)) << w << "x" << h;
  }
}

TEST(EnlargeDouble, HandComputedTwoByOne) {
  // Source 0, 160: columns at -0.25, 0.25, 0.75, 1.25 of the source pixel
  // grid give 0, 40, 120 and 160.
  const uint8_t src[2] = {0, 160};
  uint8_t out[8] = {};
  enlargeDouble(src, 2, 1, out);
  const uint8_t expected[8] = {0, 40, 120, 160, 0, 40, 120, 160};
  EXPECT_TRUE(std::equal(out, out + 8, expected));
  enlargeDouble(nullptr, 2, 1, out);  // nothing to read: nothing written
  enlargeDouble(src, 0, 1, out);
  EXPECT_TRUE(std::equal(out, out + 8, expected));
}

}  // namespace
}  // namespace vornik
