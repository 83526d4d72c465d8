#include "builder/image_resample.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>

#include "features/random.h"

namespace vornik {
namespace {

// Direct 2-D tent filter: the weight of source pixel (sx, sy) for output
// pixel (x, y) is the product of the two axis tents.
double slowTent(const Image& src, int outW, int outH, int x, int y, int channel) {
  const double scaleX = static_cast<double>(src.width) / outW;
  const double scaleY = static_cast<double>(src.height) / outH;
  const double rx = std::max(1.0, scaleX), ry = std::max(1.0, scaleY);
  const double cx = (x + 0.5) * scaleX - 0.5, cy = (y + 0.5) * scaleY - 0.5;
  double sum = 0.0, weight = 0.0;
  for (int sy = 0; sy < src.height; ++sy) {
    const double wy = std::max(0.0, 1.0 - std::fabs(sy - cy) / ry);
    if (wy == 0.0) continue;
    for (int sx = 0; sx < src.width; ++sx) {
      const double wx = std::max(0.0, 1.0 - std::fabs(sx - cx) / rx);
      sum += wx * wy * src.row(sy)[sx * src.channels + channel];
      weight += wx * wy;
    }
  }
  return sum / weight;
}

Image randomImage(int w, int h, int channels, uint32_t seed) {
  Image image(w, h, channels);
  Random random(seed);
  for (uint8_t& v : image.pixels) v = static_cast<uint8_t>(random.next() >> 24);
  return image;
}

TEST(ResampleImage, MatchesTheDirectTentFilterWhenShrinkingAndEnlarging) {
  const Image src = randomImage(37, 23, 3, 5);
  for (const auto& [w, h] : {std::pair<int, int>{13, 9}, {50, 31}, {37, 23}, {8, 40}}) {
    const Image out = resampleImage(src, w, h);
    ASSERT_EQ(std::make_tuple(out.width, out.height, out.channels), std::make_tuple(w, h, 3));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        for (int c = 0; c < 3; ++c) {
          ASSERT_NEAR(out.row(y)[3 * x + c], slowTent(src, w, h, x, y, c), 0.51)
              << w << "x" << h << " at " << x << "," << y;
        }
      }
    }
  }
  EXPECT_TRUE(resampleImage(src, 0, 10).empty());
}

TEST(NormaliseTargetImage, ScalesTheLongerSideToTheWorkingSize) {
  // (input size, working size, output size)
  for (const auto& [w, h, size, outW, outH] : {std::array<int, 5>{1024, 768, 640, 640, 480},
                                               {300, 1000, 640, 192, 640},
                                               {120, 100, 600, 600, 500}}) {
    const Image out = normaliseTargetImage(randomImage(w, h, 1, 1), size);
    EXPECT_EQ(std::make_pair(out.width, out.height), std::make_pair(outW, outH)) << w << "x" << h;
  }
}

}  // namespace
}  // namespace vornik
