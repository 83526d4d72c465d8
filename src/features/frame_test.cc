#include "features/frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace vornik {
namespace {

TEST(FrameTest, PyramidLevelCountsAndSizes) {
  struct Case {
    int width, height;
    std::vector<std::pair<int, int>> levels;
  };
  const Case cases[] = {
      {49, 40, {}},
      {50, 40, {{50, 40}}},
      {100, 80, {{100, 80}}},
      {101, 80, {{101, 80}, {50, 40}}},
      {640, 480, {{640, 480}, {320, 240}, {160, 120}, {80, 60}}},
      {1920, 1080, {{1920, 1080}, {960, 540}, {480, 270}, {240, 135}, {120, 67}, {60, 33}}},
      {4000, 3000, {{4000, 3000}, {2000, 1500}, {1000, 750}, {500, 375}, {250, 187}, {125, 93}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    Frame frame;
    frame.buildPyramid(std::make_unique<GrayImage>(c.width, c.height));
    ASSERT_EQ(frame.levelCount(), static_cast<int>(c.levels.size()));
    for (size_t i = 0; i < c.levels.size(); ++i) {
      const GrayImage* level = frame.getLevel(static_cast<int>(i));
      ASSERT_NE(level, nullptr);
      EXPECT_EQ(std::make_pair(level->width, level->height), c.levels[i]) << i;
    }
    EXPECT_EQ(frame.getLevel(frame.levelCount()), nullptr);
    EXPECT_EQ(frame.getLevel(-1), nullptr);
  }
  for (const auto& c :
       {std::pair<int, int>{3200, 6}, {3201, 6}, {200, 2}, {201, 3}, {2147483647, 6}})
    EXPECT_EQ(pyramidLevelCount(c.first), c.second) << c.first;
}

TEST(FrameTest, NullImageKeepsAndRebuildReplacesThePyramid) {
  Frame frame;
  frame.buildPyramid(std::unique_ptr<GrayImage>());
  EXPECT_EQ(frame.levelCount(), 0);
  frame.buildPyramid(std::make_unique<GrayImage>(640, 480));
  frame.buildPyramid(static_cast<GrayImage*>(nullptr));
  EXPECT_EQ(frame.levelCount(), 4);
  frame.buildPyramid(std::make_unique<GrayImage>(80, 60));
  EXPECT_EQ(frame.levelCount(), 1);
  EXPECT_EQ(frame.getLevel(0)->width, 80);
  EXPECT_EQ(frame.getLevel(1), nullptr);
}

// Built from camera pixels into kept storage: the same levels as from an
// owned image, no new storage while the size stays, new storage when it changes.
TEST(FrameTest, PyramidFromPixelsReusesItsLevels) {
  std::vector<uint8_t> bgr(3 * 640 * 480);
  for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
  for (bool convert : {true, false}) {
    Frame owned;
    owned.buildPyramid(std::make_unique<GrayImage>(640, 480, bgr.data(), convert));
    Frame reused;
    reused.buildPyramid(bgr.data(), 320, 240, convert);
    const uint8_t* before = reused.getLevel(0)->pixels.get();
    reused.buildPyramid(bgr.data(), 320, 240, convert);
    EXPECT_EQ(reused.getLevel(0)->pixels.get(), before);
    reused.buildPyramid(bgr.data(), 640, 480, convert);
    ASSERT_EQ(reused.levelCount(), owned.levelCount());
    for (int l = 0; l < owned.levelCount(); ++l) {
      const GrayImage& a = *owned.getLevel(l);
      const GrayImage& b = *reused.getLevel(l);
      ASSERT_EQ(b.width * b.height, a.width * a.height);
      EXPECT_TRUE(std::equal(a.pixels.get(), a.pixels.get() + a.width * a.height, b.pixels.get()))
          << convert << " level " << l;
    }
  }
  Frame frame;
  frame.buildPyramid(bgr.data(), 640, 480, true);
  frame.buildPyramid(nullptr, 640, 480, true);
  EXPECT_EQ(frame.levelCount(), 4);
  frame.buildPyramid(bgr.data(), 40, 480, true);
  EXPECT_EQ(frame.levelCount(), 0);
}

TEST(NormalizeCornersTest, HalfSizesTruncateAndBothDivideByTheWidth) {
  struct Case {
    int w, h, level, x, y;
    float X, Y;
  };
  const Case cases[] = {{320, 240, 0, 160, 120, 0.0f, 0.0f},
                        {320, 240, 0, 0, 0, -0.5f, 0.375f},
                        {320, 240, 0, 319, 239, 159.0f / 320.0f, -119.0f / 320.0f},
                        {5, 3, 0, 0, 0, -2.0f / 5.0f, 1.0f / 5.0f},
                        // Pixel (80, 60) of level 1 averages full-resolution
                        // pixels 160..161 x 120..121: its centre is (160.5, 120.5).
                        {320, 240, 1, 80, 60, 0.5f / 320.0f, -0.5f / 320.0f},
                        // Level 2: centre at 4 p + 1.5.
                        {320, 240, 2, 0, 0, -158.5f / 320.0f, 118.5f / 320.0f},
                        {0, 3, 0, 0, 0, 7.0f, 9.0f},       // a zero width changes nothing
                        {320, 240, -1, 0, 0, 7.0f, 9.0f},  // nor a level outside the pyramid
                        {320, 240, 6, 0, 0, 7.0f, 9.0f}};
  for (const Case& c : cases) {
    std::vector<KeyframeCorner> corners(1);
    corners[0] = {c.x, c.y, 7.0f, 9.0f};
    normalizeCorners(c.w, c.h, c.level, &corners);
    EXPECT_EQ(corners[0].X, c.X) << c.w << " " << c.level << " " << c.x;
    EXPECT_EQ(corners[0].Y, c.Y) << c.w << " " << c.level << " " << c.x;
  }
  normalizeCorners(5, 3, 0, nullptr);
}

}  // namespace
}  // namespace vornik
