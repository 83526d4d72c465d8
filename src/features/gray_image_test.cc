#include "features/gray_image.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vornik {
namespace {

TEST(ToGrayTest, PrimaryColoursAndWhite) {
  EXPECT_EQ(toGray(255, 0, 0), 28);   // blue
  EXPECT_EQ(toGray(0, 255, 0), 149);  // green
  EXPECT_EQ(toGray(0, 0, 255), 76);   // red
  EXPECT_EQ(toGray(255, 255, 255), 255);
  EXPECT_EQ(toGray(0, 0, 0), 0);
}

TEST(GrayImageTest, ConvertsCopiesOrZeroes) {
  const std::vector<uint8_t> bgr = {255, 0,   0,   0,  255, 0,  0, 0, 255,
                                    255, 255, 255, 10, 20,  30, 1, 2, 3};
  GrayImage converted(3, 2, bgr.data(), true);
  ASSERT_EQ(converted.width, 3);
  ASSERT_EQ(converted.height, 2);
  const uint8_t expected[] = {
      28, 149, 76, 255, (29 * 10 + 150 * 20 + 77 * 30) >> 8, (29 * 1 + 150 * 2 + 77 * 3) >> 8};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(converted.pixels[i], expected[i]) << i;

  GrayImage copied(3, 2, bgr.data(), false);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(copied.pixels[i], bgr[i]) << i;

  GrayImage blank(4, 3, nullptr, true);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(blank.pixels[i], 0) << i;

  GrayImage negative(-5, 7);
  EXPECT_EQ(negative.width, 0);
  EXPECT_EQ(negative.height, 7);
}

TEST(GrayImageTest, BulkConversionMatchesPerPixel) {
  std::mt19937 rng(7);
  std::vector<uint8_t> bgr(3 * 1001);
  for (auto& b : bgr) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> gray(1001);
  convertToGray(bgr.data(), gray.size(), gray.data());
  for (size_t i = 0; i < gray.size(); ++i) {
    ASSERT_EQ(gray[i], toGray(bgr[3 * i], bgr[3 * i + 1], bgr[3 * i + 2])) << i;
  }
}

TEST(DownsampleHalfTest, MatchesBlockMeanAndDropsOddEdge) {
  std::mt19937 rng(11);
  for (auto size : {std::pair<int, int>{9, 7}, {10, 8}, {1, 1}, {3, 2}, {64, 33}}) {
    const int w = size.first, h = size.second;
    std::vector<uint8_t> src(static_cast<size_t>(w) * h);
    for (auto& p : src) p = static_cast<uint8_t>(rng());
    GrayImage image(w, h, src.data(), false);
    auto half = downsampleHalf(image);
    ASSERT_EQ(half->width, w / 2);
    ASSERT_EQ(half->height, h / 2);
    for (int y = 0; y < h / 2; ++y) {
      for (int x = 0; x < w / 2; ++x) {
        const int sum = image.at(2 * x, 2 * y) + image.at(2 * x + 1, 2 * y) +
                        image.at(2 * x, 2 * y + 1) + image.at(2 * x + 1, 2 * y + 1);
        ASSERT_EQ(half->at(x, y), sum >> 2) << w << "x" << h << " at " << x << "," << y;
      }
    }
  }
}

TEST(DownsampleHalfTest, TruncatesTheMean) {
  const uint8_t src[4] = {1, 1, 1, 0};  // mean 0.75
  GrayImage image(2, 2, src, false);
  EXPECT_EQ(downsampleHalf(image)->at(0, 0), 0);
  const uint8_t bright[4] = {255, 255, 255, 254};
  GrayImage image2(2, 2, bright, false);
  EXPECT_EQ(downsampleHalf(image2)->at(0, 0), 254);
}

}  // namespace
}  // namespace vornik
