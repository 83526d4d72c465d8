#include "features/frame.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace vornik {
namespace {

struct PyramidCase {
  int width;
  int height;
  std::vector<std::pair<int, int>> levels;
};

TEST(FrameTest, PyramidLevelCountsAndSizes) {
  const std::vector<PyramidCase> cases = {
      {49, 40, {}},
      {50, 40, {{50, 40}}},
      {100, 80, {{100, 80}}},
      {101, 80, {{101, 80}, {50, 40}}},
      {640, 480, {{640, 480}, {320, 240}, {160, 120}, {80, 60}}},
      {1920, 1080, {{1920, 1080}, {960, 540}, {480, 270}, {240, 135}, {120, 67}, {60, 33}}},
      {4000, 3000, {{4000, 3000}, {2000, 1500}, {1000, 750}, {500, 375}, {250, 187}, {125, 93}}},
  };
  for (const auto& c : cases) {
    Frame frame;
    frame.buildPyramid(std::make_unique<GrayImage>(c.width, c.height));
    ASSERT_EQ(frame.levelCount(), static_cast<int>(c.levels.size())) << c.width;
    EXPECT_EQ(frame.firstLevel(), 0);
    for (size_t i = 0; i < c.levels.size(); ++i) {
      const GrayImage* level = frame.getLevel(static_cast<int>(i));
      ASSERT_NE(level, nullptr);
      EXPECT_EQ(level->width, c.levels[i].first) << c.width << " level " << i;
      EXPECT_EQ(level->height, c.levels[i].second) << c.width << " level " << i;
    }
    EXPECT_EQ(frame.getLevel(frame.levelCount()), nullptr);
    EXPECT_EQ(frame.getLevel(-1), nullptr);
  }
  EXPECT_EQ(pyramidLevelCount(3200), 6);
  EXPECT_EQ(pyramidLevelCount(3201), 6);
  EXPECT_EQ(pyramidLevelCount(200), 2);
  EXPECT_EQ(pyramidLevelCount(201), 3);
  EXPECT_EQ(pyramidLevelCount(2147483647), 6);
}

TEST(FrameTest, LevelsAreHalvedCopiesOfTheImage) {
  std::vector<uint8_t> pixels(101 * 60);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  Frame frame;
  frame.buildPyramid(new GrayImage(101, 60, pixels.data(), false));
  ASSERT_EQ(frame.levelCount(), 2);
  EXPECT_EQ(frame.getLevel(0)->at(100, 59), pixels.back());
  const GrayImage* half = frame.getLevel(1);
  EXPECT_EQ(half->at(0, 0), 101);  // (0 + 7 + 195 + 202) / 4
}

TEST(FrameTest, NullImageLeavesFrameUnchanged) {
  Frame frame;
  frame.buildPyramid(std::unique_ptr<GrayImage>());
  EXPECT_EQ(frame.levelCount(), 0);
  frame.buildPyramid(std::make_unique<GrayImage>(320, 240));
  frame.buildPyramid(static_cast<GrayImage*>(nullptr));
  EXPECT_EQ(frame.levelCount(), 3);
  EXPECT_NE(frame.getLevel(2), nullptr);
}

TEST(FrameTest, RebuildReplacesThePyramid) {
  Frame frame;
  frame.buildPyramid(std::make_unique<GrayImage>(640, 480));
  frame.buildPyramid(std::make_unique<GrayImage>(80, 60));
  EXPECT_EQ(frame.levelCount(), 1);
  EXPECT_EQ(frame.getLevel(0)->width, 80);
  EXPECT_EQ(frame.getLevel(1), nullptr);
}

TEST(NormalizeCornersTest, CentreAndTopLeftOf320x240) {
  std::vector<KeyframeCorner> corners(3);
  corners[0].x = 160;
  corners[0].y = 120;
  corners[1].x = 0;
  corners[1].y = 0;
  corners[2].x = 319;
  corners[2].y = 239;
  normalizeCorners(320, 240, &corners);
  EXPECT_EQ(corners[0].X, 0.0f);
  EXPECT_EQ(corners[0].Y, 0.0f);
  EXPECT_EQ(corners[1].X, -0.5f);
  EXPECT_EQ(corners[1].Y, 0.375f);
  EXPECT_EQ(corners[2].X, 159.0f / 320.0f);
  EXPECT_EQ(corners[2].Y, -119.0f / 320.0f);

  // Odd sizes use the truncated half; a zero width changes nothing.
  std::vector<KeyframeCorner> odd(1);
  normalizeCorners(5, 3, &odd);
  EXPECT_EQ(odd[0].X, -2.0f / 5.0f);
  EXPECT_EQ(odd[0].Y, 1.0f / 5.0f);
  normalizeCorners(0, 3, &odd);
  EXPECT_EQ(odd[0].X, -2.0f / 5.0f);
  normalizeCorners(5, 3, nullptr);
}

}  // namespace
}  // namespace vornik
