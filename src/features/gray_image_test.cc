#include "features/gray_image.h"
#include "features/gray_kernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vornik {
namespace {

std::vector<uint8_t> bytesOf(const GrayImage& image) {
  return std::vector<uint8_t>(image.pixels.get(), image.pixels.get() + image.width * image.height);
}

// Blue-green-red pixels and their grey values worked out by hand from
// (29 b + 150 g + 77 r) >> 8, e.g. (493 + 38250 + 19558) / 256 = 227.7.
struct GrayCase {
  uint8_t b, g, r;
  uint8_t gray;
};
const GrayCase kGrayCases[] = {{255, 0, 0, 28},      {0, 255, 0, 149},   {0, 0, 255, 76},
                               {255, 255, 255, 255}, {0, 0, 0, 0},       {10, 20, 30, 21},
                               {1, 2, 3, 2},         {200, 100, 50, 96}, {17, 255, 254, 227}};

TEST(ToGrayTest, HandComputedPixels) {
  std::vector<uint8_t> bgr, expected;
  for (const GrayCase& c : kGrayCases) {
    EXPECT_EQ(toGray(c.b, c.g, c.r), c.gray) << int{c.b} << "," << int{c.g} << "," << int{c.r};
    bgr.insert(bgr.end(), {c.b, c.g, c.r});
    expected.push_back(c.gray);
  }
  std::vector<uint8_t> gray(expected.size());
  convertToGray(bgr.data(), gray.size(), gray.data());
  EXPECT_EQ(gray, expected);
  EXPECT_EQ(bytesOf(GrayImage(static_cast<int32_t>(gray.size()), 1, bgr.data(), true)), expected);
}

TEST(GrayImageTest, CopiesOrZeroes) {
  const std::vector<uint8_t> bytes = {255, 0, 9, 1, 2, 3};
  EXPECT_EQ(bytesOf(GrayImage(3, 2, bytes.data(), false)), bytes);
  EXPECT_EQ(bytesOf(GrayImage(4, 3, nullptr, true)), std::vector<uint8_t>(12, 0));
  EXPECT_EQ(GrayImage(-5, 7).width, 0);
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
    const auto half = downsampleHalf(GrayImage(c.w, c.h, c.src.data(), false));
    EXPECT_EQ(half->height, c.h / 2) << c.w;
    EXPECT_EQ(bytesOf(*half), c.half) << c.w;
  }
}

// Every form this processor runs against the plain loops on random pixels,
// over lengths and widths that leave every possible tail after the vector
// steps; the byte after the end stays untouched.
TEST(GrayKernelsTest, FastFormsMatchTheScalarLoopsByteForByte) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> bgr(3 * 640 * 480);
  for (uint8_t& v : bgr) v = static_cast<uint8_t>(byte(random));
  std::fill(bgr.begin(), bgr.begin() + 200, 255);  // the largest weighted sums
  for (const auto& kernel : grayConversions()) {
    for (size_t count : {0, 1, 15, 16, 17, 31, 32, 33, 63, 640 * 480 - 2}) {
      std::vector<uint8_t> fast(count + 1, 77), slow(count + 1, 77);
      kernel.run(bgr.data() + 5, count, fast.data());
      convertToGrayScalar(bgr.data() + 5, count, slow.data());
      EXPECT_EQ(fast, slow) << kernel.name << " " << count;
    }
  }
  for (const auto& kernel : halfDownsamplings()) {
    for (int width : {1, 2, 31, 32, 33, 63, 64, 65, 97, 640}) {
      for (int height : {1, 2, 5}) {
        const int half = (width >> 1) * (height >> 1);
        std::vector<uint8_t> fast(half + 1, 77), slow(half + 1, 77);
        kernel.run(bgr.data() + 3, width, height, fast.data());
        downsampleHalfScalar(bgr.data() + 3, width, height, slow.data());
        EXPECT_EQ(fast, slow) << kernel.name << " " << width << "x" << height;
      }
    }
  }
}

}  // namespace
}  // namespace vornik
