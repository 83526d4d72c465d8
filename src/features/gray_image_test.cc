#include "features/gray_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace vornik {
namespace {

// Blue-green-red pixels and their grey values worked out by hand from
// (29 b + 150 g + 77 r) >> 8.
struct GrayCase {
  uint8_t b, g, r;
  uint8_t gray;
};
const GrayCase kGrayCases[] = {
    {255, 0, 0, 28},                         // 7395 / 256 = 28.9
    {0, 255, 0, 149},                        // 38250 / 256 = 149.4
    {0, 0, 255, 76},                         // 19635 / 256 = 76.7
    {255, 255, 255, 255},                    // 65280 / 256
    {0, 0, 0, 0},         {10, 20, 30, 21},  // (290 + 3000 + 2310) / 256 = 21.9
    {1, 2, 3, 2},                            // (29 + 300 + 231) / 256 = 2.2
    {200, 100, 50, 96},                      // (5800 + 15000 + 3850) / 256 = 96.3
    {17, 255, 254, 227},                     // (493 + 38250 + 19558) / 256 = 227.7
};

TEST(ToGrayTest, HandComputedPixels) {
  std::vector<uint8_t> bgr;
  for (const GrayCase& c : kGrayCases) {
    EXPECT_EQ(toGray(c.b, c.g, c.r), c.gray) << int{c.b} << "," << int{c.g} << "," << int{c.r};
    bgr.insert(bgr.end(), {c.b, c.g, c.r});
  }
  const size_t count = sizeof(kGrayCases) / sizeof(kGrayCases[0]);
  std::vector<uint8_t> gray(count);
  convertToGray(bgr.data(), count, gray.data());
  GrayImage image(static_cast<int32_t>(count), 1, bgr.data(), true);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(gray[i], kGrayCases[i].gray) << i;
    EXPECT_EQ(image.pixels[i], kGrayCases[i].gray) << i;
  }
}

TEST(GrayImageTest, CopiesOrZeroes) {
  const std::vector<uint8_t> bytes = {255, 0, 9, 1, 2, 3};
  GrayImage copied(3, 2, bytes.data(), false);
  ASSERT_EQ(copied.width, 3);
  ASSERT_EQ(copied.height, 2);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(copied.pixels[i], bytes[i]) << i;

  GrayImage blank(4, 3, nullptr, true);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(blank.pixels[i], 0) << i;

  GrayImage negative(-5, 7);
  EXPECT_EQ(negative.width, 0);
  EXPECT_EQ(negative.height, 7);
}

TEST(DownsampleHalfTest, TruncatedBlockMeansAndOddEdgeDropped) {
  struct Case {
    int w, h;
    std::vector<uint8_t> src;
    std::vector<uint8_t> half;
  };
  const Case cases[] = {
      {2, 2, {1, 1, 1, 0}, {0}},            // mean 0.75
      {2, 2, {255, 255, 255, 254}, {254}},  // mean 254.75
      {1, 1, {200}, {}},                    // nothing left
      // 5 x 3: the last column and the last row are ignored.
      {5,
       3,
       {10, 20, 30, 40, 99,  //
        50, 61, 70, 80, 99,  //
        99, 99, 99, 99, 99},
       {35, 55}},  // 141 / 4, 220 / 4
  };
  for (const Case& c : cases) {
    GrayImage image(c.w, c.h, c.src.data(), false);
    const auto half = downsampleHalf(image);
    ASSERT_EQ(half->width, c.w / 2);
    ASSERT_EQ(half->height, c.h / 2);
    for (size_t i = 0; i < c.half.size(); ++i)
      EXPECT_EQ(half->pixels[i], c.half[i]) << c.w << " " << i;
  }
}

}  // namespace
}  // namespace vornik
