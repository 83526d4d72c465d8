#include "builder/image_resample.h"

#include <gtest/gtest.h>

#include <cmath>

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
    ASSERT_EQ(out.width, w);
    ASSERT_EQ(out.height, h);
    ASSERT_EQ(out.channels, 3);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        for (int c = 0; c < 3; ++c) {
          ASSERT_NEAR(out.row(y)[3 * x + c], slowTent(src, w, h, x, y, c), 0.51)
              << w << "x" << h << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(ResampleImage, KeepsFlatImagesFlatAndRejectsEmptySizes) {
  const Image flat(64, 48, 1, 77);
  const Image out = resampleImage(flat, 20, 15);
  for (uint8_t v : out.pixels) ASSERT_EQ(v, 77);
  EXPECT_TRUE(resampleImage(flat, 0, 10).empty());
}

TEST(NormaliseTargetImage, ScalesTheLongerSideToTheWorkingSize) {
  const Image wide = randomImage(1024, 768, 1, 1);
  const Image a = normaliseTargetImage(wide, 640);
  EXPECT_EQ(a.width, 640);
  EXPECT_EQ(a.height, 480);
  const Image tall = randomImage(300, 1000, 3, 2);
  const Image b = normaliseTargetImage(tall, 640);
  EXPECT_EQ(b.width, 192);
  EXPECT_EQ(b.height, 640);
  const Image small = randomImage(120, 100, 1, 3);
  const Image c = normaliseTargetImage(small, 600);
  EXPECT_EQ(c.width, 600);
  EXPECT_EQ(c.height, 500);
}

}  // namespace
}  // namespace vornik
