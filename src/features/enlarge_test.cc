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

TEST(CutWindow, StaysInsideTheImageAndRefusesWhatDoesNotFit) {
  // Pixel value = 10 y + x on a 10 x 6 image, so each copied pixel shows
  // where it came from.
  std::vector<uint8_t> image(60);
  for (int i = 0; i < 60; ++i)
    image[static_cast<size_t>(i)] = static_cast<uint8_t>(10 * (i / 10) + i % 10);
  struct Case {
    float x, y;
    int w, h;
    bool cut;
    int left, top;
  };
  const float nan = std::nanf("");
  for (const Case& c : {Case{5, 3, 4, 2, true, 3, 2}, Case{-40, 1, 4, 2, true, 0, 0},
                        Case{99, 99, 4, 2, true, 6, 4}, Case{4.6f, 2.4f, 3, 3, true, 3, 1},
                        Case{5, 3, 10, 6, true, 0, 0}, Case{5, 3, 11, 2, false, 0, 0},
                        Case{5, 3, 4, 7, false, 0, 0}, Case{nan, 3, 4, 2, false, 0, 0},
                        Case{5, 3, 0, 2, false, 0, 0}}) {
    std::vector<uint8_t> out;
    int32_t left = -1, top = -1;
    ASSERT_EQ(cutWindow(image.data(), 10, 6, c.x, c.y, c.w, c.h, &out, &left, &top), c.cut)
        << c.x << "," << c.y << " " << c.w << "x" << c.h;
    if (!c.cut) {
      EXPECT_TRUE(out.empty());
      continue;
    }
    EXPECT_EQ(left, c.left);
    EXPECT_EQ(top, c.top);
    ASSERT_EQ(out.size(), static_cast<size_t>(c.w * c.h));
    for (int y = 0; y < c.h; ++y) {
      for (int x = 0; x < c.w; ++x) {
        EXPECT_EQ(out[static_cast<size_t>(y * c.w + x)], 10 * (c.top + y) + c.left + x);
      }
    }
  }
}

}  // namespace
}  // namespace vornik
