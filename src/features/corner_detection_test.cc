#include "features/corner_detection.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "features/test_photos.h"

namespace vornik {
namespace {

std::unique_ptr<GrayImage> imageWithDots(int w, int h, uint8_t background,
                                         const std::vector<std::pair<int, int>>& dots,
                                         const std::vector<uint8_t>& values) {
  auto image = std::make_unique<GrayImage>(w, h);
  std::fill(image->pixels.get(), image->pixels.get() + w * h, background);
  for (size_t i = 0; i < dots.size(); ++i) {
    image->pixels[dots[i].second * w + dots[i].first] = values[i % values.size()];
  }
  return image;
}

TEST(RecognitionQuotaTest, BudgetSplitOverLevels) {
  // {level count, level, quota}: the coarsest level and bad levels get none.
  const int cases[][3] = {{3, 0, 133}, {3, 1, 66}, {3, 2, 0},  {4, 0, 100}, {4, 1, 66},
                          {4, 2, 33},  {4, 3, 0},  {5, 0, 80}, {5, 1, 60},  {5, 2, 40},
                          {5, 3, 20},  {1, 0, 0},  {4, -1, 0}};
  for (const auto& c : cases) EXPECT_EQ(recognitionQuota(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

TEST(RecognitionCornersTest, BorderCornersAreSkippedWithoutUsingTheQuota) {
  // 320 x 240: three levels, quota 133 on level 0. Two very strong dots sit
  // just outside the allowed band; 136 weaker dots inside compete for 133
  // places.
  std::vector<std::pair<int, int>> dots = {{15, 100}, {304, 100}};
  std::vector<uint8_t> values = {250, 250};
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 34; ++col) {
      dots.push_back({24 + 8 * col, 40 + 40 * row});
      values.push_back(static_cast<uint8_t>(150 + (col + row) % 3));
    }
  }
  Frame frame;
  frame.buildPyramid(imageWithDots(320, 240, 50, dots, values));
  ASSERT_EQ(frame.levelCount(), 3);
  HessianGradientFeatureMngr features(frame.levelCount());
  ASSERT_TRUE(detectRecognitionCorners(frame, &features));
  const auto level0 = features.featuresOfLevel(0);
  ASSERT_EQ(level0.size(), 133u);
  std::set<std::pair<int, int>> seen;
  for (const auto& f : level0) {
    EXPECT_GE(f->x, 16);
    EXPECT_LT(f->x, 320 - 16);
    EXPECT_EQ(f->level, 0);
    EXPECT_EQ(f->scale, 1.0f);
    EXPECT_EQ(f->polarity, 0);  // bright dot, darker ring
    seen.insert({f->x, f->y});
  }
  // Strongest first: every dot of value 152 and 151 made it.
  for (size_t i = 2; i < dots.size(); ++i)
    EXPECT_TRUE(values[i] < 151 || seen.count(dots[i])) << dots[i].first;
  for (const auto& f : features.featuresOfLevel(1)) EXPECT_EQ(f->scale, 2.0f);
  EXPECT_TRUE(features.featuresOfLevel(2).empty());
}

TEST(RecognitionCornersTest, PolarityFollowsTheRing) {
  Frame frame;
  frame.buildPyramid(imageWithDots(320, 240, 128, {{100, 100}, {200, 100}}, {250, 5}));
  HessianGradientFeatureMngr features(frame.levelCount());
  ASSERT_TRUE(detectRecognitionCorners(frame, &features));
  const auto level0 = features.featuresOfLevel(0);
  ASSERT_EQ(level0.size(), 2u);
  for (const auto& f : level0) EXPECT_EQ(f->polarity, f->x == 100 ? 0 : 1) << f->x;
}

TEST(CornersTest, PhotosStayWithinQuotasAndBorders) {
  for (const char* name : testing_photos::kPhotoNames) {
    SCOPED_TRACE(name);
    const auto photo = testing_photos::loadPhoto(testing_photos::photoPath(name));
    ASSERT_GT(photo.width, 0);
    Frame frame;
    frame.buildPyramid(
        std::make_unique<GrayImage>(photo.width, photo.height, photo.bgr.data(), true));
    HessianGradientFeatureMngr features(frame.levelCount());
    ASSERT_TRUE(detectRecognitionCorners(frame, &features));
    size_t total = 0;
    for (int level = 0; level < frame.levelCount(); ++level) {
      const GrayImage* image = frame.getLevel(level);
      const auto list = features.featuresOfLevel(level);
      EXPECT_LE(static_cast<int>(list.size()), recognitionQuota(frame.levelCount(), level));
      for (const auto& f : list) {
        ASSERT_TRUE(f->x >= 16 && f->x < image->width - 16 && f->y >= 16 &&
                    f->y < image->height - 16)
            << f->x << "," << f->y;
      }
      total += list.size();
    }
    EXPECT_LE(total, 200u);
    // A larger budget keeps the same strongest corners first on every level.
    HessianGradientFeatureMngr more(frame.levelCount());
    ASSERT_TRUE(detectRecognitionCorners(frame, &more, 400));
    for (int level = 0; level < frame.levelCount(); ++level) {
      const auto few = features.featuresOfLevel(level);
      const auto many = more.featuresOfLevel(level);
      EXPECT_LE(static_cast<int>(many.size()), recognitionQuota(frame.levelCount(), level, 400));
      ASSERT_GE(many.size(), few.size());
      for (size_t i = 0; i < few.size(); ++i) {
        ASSERT_TRUE(many[i]->x == few[i]->x && many[i]->y == few[i]->y) << level << " " << i;
      }
    }
    ASSERT_TRUE(detectTrackingCorners(&frame));
    const GrayImage* level = frame.getLevel(frame.levelCount() - 3);
    for (const auto& k : frame.corners)
      ASSERT_TRUE(k.x < level->width && k.y < level->height) << k.x << "," << k.y;
    // Every sample photo but the smooth retina scan has enough texture to
    // fill the finest level and pass the corner target.
    if (std::string(name) == "retina.jpg") continue;
    EXPECT_EQ(static_cast<int>(features.featuresOfLevel(0).size()),
              recognitionQuota(frame.levelCount(), 0));
    EXPECT_GE(frame.corners.size(), 150u);
    EXPECT_LT(frame.corners.size(), 170u);
  }
}

std::vector<std::pair<int, int>> gridDots(int perCell) {
  // 320 x 240 level: cells of 64 x 60; dots 12 and 13 pixels apart.
  std::vector<std::pair<int, int>> dots;
  for (int cell = 0; cell < 20; ++cell) {
    const int cx = (cell % 5) * 64, cy = (cell / 5) * 60;
    for (int i = 0; i < perCell; ++i)
      dots.push_back({cx + 6 + 12 * (i % 5), cy + 6 + 13 * (i / 5)});
  }
  return dots;
}

TEST(TrackingCornersTest, PassesOverTheGridOfTheWorkingLevelStopAfterTheTarget) {
  struct Case {
    int scale, perCell;
    size_t corners;
  };
  // 640 wide: the working level is level 1 (320 x 240).
  for (const Case& c : {Case{1, 20, 160}, {1, 5, 100}, {2, 20, 160}}) {
    SCOPED_TRACE(c.scale * 100 + c.perCell);
    auto dots = gridDots(c.perCell);
    for (auto& d : dots) d = {c.scale * d.first, c.scale * d.second};
    Frame frame;
    frame.buildPyramid(imageWithDots(320 * c.scale, 240 * c.scale, 40, dots, {220}));
    ASSERT_TRUE(detectTrackingCorners(&frame));
    ASSERT_EQ(frame.corners.size(), c.corners);
    std::vector<int> perCell(20, 0);
    for (const auto& k : frame.corners) {
      ++perCell[(k.y / 60) * 5 + k.x / 64];
      // Plane coordinates of the pixel centre at full resolution: level-1
      // pixel p is centred at 2p + 0.5.
      const float x0 = c.scale * k.x + 0.5f * (c.scale - 1);
      const float y0 = c.scale * k.y + 0.5f * (c.scale - 1);
      EXPECT_EQ(k.X, (x0 - 160 * c.scale) / (320.0f * c.scale));
      EXPECT_EQ(k.Y, (120 * c.scale - y0) / (320.0f * c.scale));
    }
    for (int n : perCell) EXPECT_EQ(n, static_cast<int>(c.corners / 20));
    // Every pass visits the cells in order, one corner each.
    for (size_t i = 0; i < 20; ++i)
      EXPECT_EQ((frame.corners[i].y / 60) * 5 + frame.corners[i].x / 64, static_cast<int>(i));
    // The shuffle within a cell is seeded: the same frame gives the same corners.
    const auto first = frame.corners;
    ASSERT_TRUE(detectTrackingCorners(&frame));
    for (size_t i = 0; i < first.size(); ++i)
      EXPECT_TRUE(frame.corners[i].x == first[i].x && frame.corners[i].y == first[i].y) << i;
  }
}

TEST(CornersTest, TooFewLevelsOrNoTextureGiveNothing) {
  Frame single, small, uniform, empty;
  single.buildPyramid(imageWithDots(80, 60, 50, {{40, 30}}, {250}));
  small.buildPyramid(std::make_unique<GrayImage>(200, 150));
  uniform.buildPyramid(std::make_unique<GrayImage>(640, 480));
  for (const Frame* frame : {&single, &uniform}) {
    HessianGradientFeatureMngr features(frame->levelCount());
    EXPECT_TRUE(detectRecognitionCorners(*frame, &features));
    EXPECT_EQ(features.featureCount(), 0u) << frame->levelCount();
  }
  EXPECT_FALSE(detectRecognitionCorners(single, nullptr));
  // No working level keeps the earlier corners; no texture clears them.
  small.corners.resize(3);
  uniform.corners.resize(3);
  EXPECT_FALSE(detectTrackingCorners(&small));
  EXPECT_EQ(small.corners.size(), 3u);
  EXPECT_FALSE(detectTrackingCorners(nullptr));
  EXPECT_FALSE(detectTrackingCorners(&empty));
  EXPECT_TRUE(detectTrackingCorners(&uniform));
  EXPECT_TRUE(uniform.corners.empty());
}

}  // namespace
}  // namespace vornik
