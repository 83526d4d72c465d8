#include "tracking/patch_search.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>
#include <vector>

#include "features/corner_detection.h"
#include "features/random.h"
#include "tracking/progressive_tracking.h"
#include "tracking/test_images.h"

namespace vornik {
namespace {

using testing_images::makeTexture;
using testing_images::viewPose;

const float kIdentity[4] = {1, 0, 0, 1};

// Template straight from the pixels of an 8 x 8 block of values.
PatchTemplate templateFrom(const uint8_t values[64]) {
  PatchTemplate t;
  for (int i = 0; i < 64; ++i) {
    t.pixels[i] = values[i];
    t.sum += values[i];
    t.sumSquares += values[i] * values[i];
  }
  return t;
}

// Writes an 8 x 8 block into an image with its top-left pixel at (left, top).
void paste(GrayImage& image, const uint8_t values[64], int left, int top) {
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      image.pixels[(top + y) * image.width + left + x] = values[y * 8 + x];
}

double directCorrelation(const PatchTemplate& t, const GrayImage& image, int left, int top) {
  Eigen::VectorXd a(64), b(64);
  for (int i = 0; i < 64; ++i) {
    a[i] = image.at(left + i % 8, top + i / 8);
    b[i] = t.pixels[i];
  }
  a.array() -= a.mean();
  b.array() -= b.mean();
  return a.dot(b) / (a.norm() * b.norm());
}

// Radius 3 is the 5 x 5 square in spiral order; every radius covers the disc
// of that radius within ring r - 1 once, ring by ring.
TEST(SpiralOffsets, PinnedOrderAndDiscCoverage) {
  const std::vector<std::pair<int, int>> expected = {
      {0, 0},   {-1, -1}, {0, -1}, {1, -1}, {1, 0},  {1, 1},  {0, 1},  {-1, 1}, {-1, 0},
      {-2, -2}, {-1, -2}, {0, -2}, {1, -2}, {2, -2}, {2, -1}, {2, 0},  {2, 1},  {2, 2},
      {1, 2},   {0, 2},   {-1, 2}, {-2, 2}, {-2, 1}, {-2, 0}, {-2, -1}};
  std::vector<std::pair<int, int>> three;
  for (const SpiralOffset& o : spiralOffsets(3)) three.push_back({o.dx, o.dy});
  EXPECT_EQ(three, expected);
  for (int r : {1, 2, 8, 15}) {
    std::set<std::pair<int, int>> seen, disc;
    int previousRing = 0;
    for (const SpiralOffset& o : computeSpiralOffsets(r)) {
      EXPECT_TRUE(seen.insert({o.dx, o.dy}).second) << "duplicate at radius " << r;
      const int ring = std::max(std::abs(o.dx), std::abs(o.dy));
      EXPECT_GE(ring, previousRing);
      previousRing = ring;
    }
    for (int y = 1 - r; y < r; ++y)
      for (int x = 1 - r; x < r; ++x)
        if (x * x + y * y <= r * r) disc.insert({x, y});
    EXPECT_EQ(seen, disc) << r;
  }
}

// A linear ramp interpolates to itself: at positions on the 1/256 grid the
// template holds the ramp's value rounded down, the only rounding there is.
TEST(MakeTemplate, SamplesARampExactly) {
  GrayImage ramp(40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ramp.pixels[y * 40 + x] = static_cast<uint8_t>(4 * x + 3 * y);
  const float warp[4] = {0.5f, 0.25f, -0.25f, 1.0f};
  PatchTemplate t;
  ASSERT_TRUE(makeTemplate(ramp, 20.5f, 14.25f, warp, t));
  int sum = 0, sumSquares = 0;
  for (int ty = -4; ty < 4; ++ty) {
    for (int tx = -4; tx < 4; ++tx) {
      const double x = 20.5 + 0.5 * tx + 0.25 * ty, y = 14.25 - 0.25 * tx + ty;
      const int v = t.pixels[(ty + 4) * 8 + tx + 4];
      EXPECT_EQ(v, static_cast<int>(std::floor(4 * x + 3 * y))) << tx << "," << ty;
      sum += v;
      sumSquares += v * v;
    }
  }
  EXPECT_EQ(t.sum, sum);
  EXPECT_EQ(t.sumSquares, sumSquares);
}

TEST(MakeTemplate, EveryFormSamplesAsTheScalarOne) {
  // Rotated, scaled and sheared warps at random centres, many of them with a
  // corner on or near the last row or column, where the clamps decide.
  auto image = makeTexture(61, 47, 7, 2);
  Random random(17);
  const auto forms = templateSamplers();
  for (int i = 0; i < 400; ++i) {
    const float angle = static_cast<float>(random.uniform(628)) / 100.0f;
    const float size = 0.4f + static_cast<float>(random.uniform(250)) / 100.0f;
    const float shear = static_cast<float>(random.uniform(41) - 20) / 100.0f;
    const float warp[4] = {size * std::cos(angle), -size * std::sin(angle) + shear,
                           size * std::sin(angle), size * std::cos(angle)};
    const float x = static_cast<float>(random.uniform(6100)) / 100.0f;
    const float y = static_cast<float>(random.uniform(4700)) / 100.0f;
    PatchTemplate reference;
    if (!makeTemplate(*image, x, y, warp, reference)) continue;
    forms.front().run(*image, x, y, warp, reference);
    for (const auto& form : forms) {
      PatchTemplate t;
      form.run(*image, x, y, warp, t);
      ASSERT_EQ(std::vector<uint8_t>(t.pixels, t.pixels + 64),
                std::vector<uint8_t>(reference.pixels, reference.pixels + 64))
          << form.name << " " << i;
      ASSERT_EQ(std::make_pair(t.sum, t.sumSquares),
                std::make_pair(reference.sum, reference.sumSquares))
          << form.name << " " << i;
    }
  }
}

TEST(MakeTemplate, CornersMustLieInsideTheSourceImage) {
  auto image = makeTexture(32, 24, 3);
  const float wide[4] = {3, 0, 0, 1};  // corners at centre -12 .. +9
  PatchTemplate t;
  // Corners span centre - 4 .. centre + 3; (28, 20) puts one exactly on (31, 23).
  EXPECT_TRUE(makeTemplate(*image, 4.0f, 4.0f, kIdentity, t));
  EXPECT_TRUE(makeTemplate(*image, 28.0f, 20.0f, kIdentity, t));
  EXPECT_TRUE(makeTemplate(*image, 12.0f, 10.0f, wide, t));
  EXPECT_FALSE(makeTemplate(*image, 10.0f, 10.0f, wide, t));
  EXPECT_FALSE(makeTemplate(*image, 3.99f, 10.0f, kIdentity, t));
  EXPECT_FALSE(makeTemplate(*image, 28.01f, 10.0f, kIdentity, t));
  EXPECT_FALSE(makeTemplate(*image, 10.0f, 20.5f, kIdentity, t));
  EXPECT_FALSE(makeTemplate(*image, NAN, 10.0f, kIdentity, t));
}

TEST(CorrelationScore, AgreesWithTheTextbookFormula) {
  auto image = makeTexture(80, 60, 11, 3);
  Random random(5);
  PatchTemplate t;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(
        makeTemplate(*image, 4.0f + random.uniform(70), 4.0f + random.uniform(50), kIdentity, t));
    const int left = random.uniform(72), top = random.uniform(52);
    EXPECT_NEAR(correlationScore(t, *image, left, top), directCorrelation(t, *image, left, top),
                1e-6);
  }
  // A flat window carries no information.
  GrayImage flat(8, 8);
  for (int i = 0; i < 64; ++i) flat.pixels[i] = 90;
  EXPECT_EQ(correlationScore(t, flat, 0, 0), 0.0f);
}

// The search's early rejection of windows that cannot win must give what
// scoring every window gives: same position, same score, same verdict, on
// templates cut from the image and on unrelated ones.
TEST(FindPatchCoarse, SameResultAsScoringEveryWindow) {
  auto image = makeTexture(120, 90, 17, 2);
  Random random(9);
  const SpiralOffsets& offsets = spiralOffsets(15);
  int found = 0;
  for (int i = 0; i < 300; ++i) {
    PatchTemplate t;
    const float warp[4] = {1.0f + 0.3f * (random.uniform(100) / 100.0f - 0.5f), 0.1f, -0.1f, 1.0f};
    ASSERT_TRUE(
        makeTemplate(*image, 8.0f + random.uniform(100), 8.0f + random.uniform(70), warp, t));
    const int cx = 4 + random.uniform(112), cy = 4 + random.uniform(82);
    float best = 0.29999f, bx = -1, by = -1;
    for (const SpiralOffset& o : offsets) {
      const int left = cx + o.dx - 4, top = cy + o.dy - 4;
      if (left < 0 || top < 0 || left > 112 || top > 82) continue;
      const float score = correlationScore(t, *image, left, top);
      if (score > best) {
        best = score;
        bx = left + 4.0f;
        by = top + 4.0f;
        if (score > 0.95f) break;
      }
    }
    float fx = -1, fy = -1;
    const bool hit = findPatchCoarse(t, *image, cx, cy, offsets, &fx, &fy);
    ASSERT_EQ(hit, best >= 0.3f) << i;
    found += hit;
    EXPECT_EQ(t.score, hit ? best : 0.0f) << i;
    EXPECT_EQ(std::make_pair(fx, fy), std::make_pair(bx, by)) << i;
  }
  EXPECT_GT(found, 100);
}

// Window = 3a*T + 9a*U + 3a*V + a*W (+ a*X) of independent bit patterns, so
// the correlation with T is exactly 3 / 10 (or 3 / sqrt(101)): found at 0.3,
// not below.
TEST(FindPatchCoarse, ScoreOfExactlyPointThreeIsFoundBelowIsNot) {
  for (int extra : {0, 1}) {
    uint8_t templ[64], window[64];
    for (int i = 0; i < 64; ++i) {
      const int t = (i >> 5) & 1, u = i & 1, v = (i >> 1) & 1, w = (i >> 2) & 1, x = (i >> 3) & 1;
      templ[i] = static_cast<uint8_t>(200 * t);
      window[i] = static_cast<uint8_t>(15 * (3 * t + 9 * u + 3 * v + w + extra * x));
    }
    GrayImage image(8, 8);
    paste(image, window, 0, 0);
    PatchTemplate t = templateFrom(templ);
    const float score = correlationScore(t, image, 0, 0);
    ASSERT_EQ(score == 0.3f, extra == 0);
    ASSERT_GT(score, 0.29f);
    ASSERT_LE(score, 0.3f);
    float fx = -1, fy = -1;
    EXPECT_EQ(findPatchCoarse(t, image, 4, 4, spiralOffsets(3), &fx, &fy), extra == 0);
    EXPECT_EQ(t.score, extra == 0 ? 0.3f : 0.0f);
    EXPECT_TRUE(extra != 0 || (fx == 4.0f && fy == 4.0f)) << fx << "," << fy;
  }
}

// Random 8 x 8 block, and the same block with noise of the given amplitude.
void randomBlock(Random& random, int noise, uint8_t clean[64], uint8_t noisy[64]) {
  for (int i = 0; i < 64; ++i) {
    clean[i] = static_cast<uint8_t>(40 + random.uniform(170));
    const int n = noise > 0 ? static_cast<int>(random.uniform(2 * noise + 1)) - noise : 0;
    noisy[i] = static_cast<uint8_t>(clean[i] + n);
  }
}

// Two copies of a block around the centre, the first in spiral order at
// (-10, -10) or (-5, -8). A noisy first copy scoring above 0.95 ends the
// search before the clean one; two equally noisy copies keep the earlier.
TEST(FindPatchCoarse, FirstWindowAboveNinetyFiveOrTheEarlierOfEqualScoresWins) {
  struct Case {
    uint32_t seed;
    int noise;
    int first[2], second[2];
    bool secondClean;
  };
  for (const Case& c : {Case{21, 12, {-10, -10}, {12, 0}, true},   // rings 10 and 12
                        Case{33, 60, {-5, -8}, {9, 5}, false}}) {  // rings 8 and 9
    Random random(c.seed);
    uint8_t clean[64], noisy[64];
    randomBlock(random, c.noise, clean, noisy);
    GrayImage image(64, 64);
    for (int i = 0; i < 64 * 64; ++i) image.pixels[i] = 128;
    paste(image, c.secondClean ? clean : noisy, 28 + c.second[0], 28 + c.second[1]);
    paste(image, noisy, 28 + c.first[0], 28 + c.first[1]);
    PatchTemplate t = templateFrom(clean);
    const float score = correlationScore(t, image, 28 + c.first[0], 28 + c.first[1]);
    ASSERT_LT(score, 1.0f) << c.seed;
    ASSERT_EQ(score > 0.95f, c.secondClean) << score;
    float fx = 0, fy = 0;
    ASSERT_TRUE(findPatchCoarse(t, image, 32, 32, spiralOffsets(15), &fx, &fy));
    EXPECT_EQ(std::make_pair(fx, fy), std::make_pair(32.0f + c.first[0], 32.0f + c.first[1]));
    EXPECT_EQ(t.score, score);
  }
}

TEST(FindPatchCoarse, WindowsTouchingTheBorderAreScoredOnesBeyondAreSkipped) {
  Random random(4);
  uint8_t clean[64], noisy[64];
  randomBlock(random, 0, clean, noisy);
  GrayImage image(20, 12);
  for (int i = 0; i < 20 * 12; ++i) image.pixels[i] = static_cast<uint8_t>(random.uniform(256));
  PatchTemplate t = templateFrom(clean);
  float fx = 0, fy = 0;
  paste(image, clean, 0, 0);
  EXPECT_TRUE(findPatchCoarse(t, image, 5, 5, spiralOffsets(3), &fx, &fy));
  EXPECT_EQ(std::make_pair(fx, fy), std::make_pair(4.0f, 4.0f));
  paste(image, clean, 12, 4);  // right and bottom edges at 19 and 11
  EXPECT_TRUE(findPatchCoarse(t, image, 17, 7, spiralOffsets(3), &fx, &fy));
  EXPECT_EQ(std::make_pair(fx, fy), std::make_pair(16.0f, 8.0f));
  // Centres whose every window would cross the border find nothing (and read
  // nothing outside the image).
  EXPECT_FALSE(findPatchCoarse(t, image, 19, 11, spiralOffsets(2), &fx, &fy));
  EXPECT_FALSE(findPatchCoarse(t, image, -40, 500, spiralOffsets(15), &fx, &fy));
}

TEST(Subpixel, RecoversAFractionalShiftAndABrightnessOffset) {
  auto image = makeTexture(96, 80, 19);
  const int x0 = 47, y0 = 38;
  for (const auto& shift :
       {std::make_pair(0.37f, -0.28f), std::make_pair(-0.45f, 0.2f), std::make_pair(0.0f, 0.49f)}) {
    auto moved = makeTexture(96, 80, 19, 6, shift.first, shift.second, 12);
    PatchTemplate t;
    ASSERT_TRUE(makeTemplate(*image, x0, y0, kIdentity, t));
    float fx = 0, fy = 0;
    ASSERT_TRUE(findPatchCoarse(t, *moved, x0 + 1, y0 - 1, spiralOffsets(3), &fx, &fy));
    // The first window above 0.95 ends the search: within a pixel.
    EXPECT_NEAR(fx, x0 + shift.first, 1.0f);
    EXPECT_NEAR(fy, y0 + shift.second, 1.0f);
    ASSERT_TRUE(makeSubpixelTemplate(t));
    t.subpixelX = fx;
    t.subpixelY = fy;
    ASSERT_TRUE(iterateSubpixel(t, *moved, 5));
    EXPECT_NEAR(t.subpixelX, x0 + shift.first, 0.08f);
    EXPECT_NEAR(t.subpixelY, y0 + shift.second, 0.08f);
    EXPECT_NEAR(t.meanDifference, -12.0f, 1.5f);
  }
}

TEST(Subpixel, EveryFormTakesTheScalarStepsToTheLastBit) {
  // Whole refinements from random starts near the true position of shifted,
  // brightened textures: positions, mean difference and outcome agree bit
  // for bit with the scalar sums.
  auto image = makeTexture(96, 80, 23);
  Random random(29);
  const auto forms = subpixelSumsForms();
  for (int n = 0; n < 60; ++n) {
    const float dx = static_cast<float>(random.uniform(101) - 50) / 100.0f;
    const float dy = static_cast<float>(random.uniform(101) - 50) / 100.0f;
    auto moved = makeTexture(96, 80, 23, 6, dx, dy, random.uniform(30));
    PatchTemplate t;
    const int x0 = 10 + random.uniform(76), y0 = 10 + random.uniform(60);
    ASSERT_TRUE(makeTemplate(*image, x0, y0, kIdentity, t));
    if (!makeSubpixelTemplate(t)) continue;
    t.subpixelX = x0 + static_cast<float>(random.uniform(3) - 1);
    t.subpixelY = y0 + static_cast<float>(random.uniform(3) - 1);
    PatchTemplate reference = t;
    const bool expected = iterateSubpixel(reference, *moved, 5, forms.front().run);
    for (const auto& form : forms) {
      PatchTemplate u = t;
      EXPECT_EQ(iterateSubpixel(u, *moved, 5, form.run), expected) << form.name << " " << n;
      EXPECT_EQ(std::make_tuple(u.subpixelX, u.subpixelY, u.meanDifference),
                std::make_tuple(reference.subpixelX, reference.subpixelY, reference.meanDifference))
          << form.name << " " << n;
    }
  }
}

// A flat template has no gradient to refine on; starts within 5 pixels of
// the border fail. With a single iteration the only step is the last one: a
// squared step in [0.0025, 0.01) is accepted, one of 0.01 or more is not.
TEST(Subpixel, FlatTemplateBorderStartsAndTheLastStepThresholds) {
  GrayImage flat(20, 20);
  for (int i = 0; i < 400; ++i) flat.pixels[i] = 77;
  PatchTemplate t;
  ASSERT_TRUE(makeTemplate(flat, 10, 10, kIdentity, t));
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(makeSubpixelTemplate(t));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "BAD RANK IN MAKESUBPIXELTEMPLATE!!!!\n");

  auto image = makeTexture(60, 60, 8);
  ASSERT_TRUE(makeTemplate(*image, 30, 30, kIdentity, t));
  ASSERT_TRUE(makeSubpixelTemplate(t));
  for (const auto& start : {std::make_pair(4.9f, 30.0f), std::make_pair(30.0f, 4.0f),
                            std::make_pair(55.0f, 30.0f), std::make_pair(30.0f, 55.5f)}) {
    t.subpixelX = start.first;
    t.subpixelY = start.second;
    EXPECT_FALSE(iterateSubpixel(t, *image, 5)) << start.first << "," << start.second;
  }
  int accepted = 0, rejected = 0;
  for (float offset = 0.02f; offset < 0.6f; offset += 0.01f) {
    t.subpixelX = 30.0f + offset;
    t.subpixelY = 30.0f;
    const bool ok = iterateSubpixel(t, *image, 1);
    const float dx = t.subpixelX - (30.0f + offset), dy = t.subpixelY - 30.0f;
    const float step2 = dx * dx + dy * dy;
    EXPECT_EQ(ok, step2 < 0.01f) << offset;
    accepted += step2 >= 0.0025f && step2 < 0.01f;
    rejected += step2 >= 0.01f;
  }
  EXPECT_GT(accepted, 0);
  EXPECT_GT(rejected, 0);
}

// Random lattices of 9, 23 and 57 pixel cells upsampled bilinearly and
// summed, moved by (dx, dy): detail at every pyramid level from 0 to 3.
std::unique_ptr<GrayImage> multiScaleTexture(int32_t width, int32_t height, double dx, double dy) {
  Random random(5);
  const int32_t cells[3] = {9, 23, 57};
  std::unique_ptr<GrayImage> grids[3];
  for (int k = 0; k < 3; ++k) {
    grids[k] = std::make_unique<GrayImage>(width / cells[k] + 2, height / cells[k] + 2);
    for (int32_t i = 0; i < grids[k]->width * grids[k]->height; ++i)
      grids[k]->pixels[i] = static_cast<uint8_t>(random.uniform(256));
  }
  auto image = std::make_unique<GrayImage>(width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      double v = 0;
      for (int k = 0; k < 3; ++k) {
        v += testing_images::bilinear(*grids[k], std::max(0.0, (x - dx) / cells[k]),
                                      std::max(0.0, (y - dy) / cells[k])) /
             3;
      }
      image->pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(std::lround(v));
    }
  }
  return image;
}

double medianOf(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// The pyramid's pixel convention end to end: a keyframe of a texture and a
// frame of the same texture moved by a known sub-pixel amount, posed by the
// matching translation. On every level the template cut where the tracker
// puts a keyframe corner is found where that corner really lies in the
// frame, and the pose projects the corner onto the same place: pixel p of
// level l is the mean of a 2^l block, centred at full resolution on
// 2^l p + (2^l - 1) / 2. Dropping that offset biases levels 0, 2 and 3 by a
// quarter pixel or more.
TEST(PyramidConvention, SubpixelShiftIsRecoveredWithoutBiasOnEveryLevel) {
  const double dx = 0.375, dy = -0.625;  // full-resolution pixels
  Keyframe keyframe;
  keyframe.buildPyramid(multiScaleTexture(640, 480, 0, 0));
  ASSERT_TRUE(detectTrackingCorners(&keyframe));  // on level 1
  keyframe.buildTrackPoints();
  Frame frame;
  frame.buildPyramid(multiScaleTexture(640, 480, dx, dy));
  ASSERT_EQ(frame.levelCount(), 4);
  prepareTrackPoints(keyframe, frame, viewPose({0, 0, 0}, {dx / 640, dy / 640, 1}));

  for (int32_t level = 0; level < 4; ++level) {
    SCOPED_TRACE(level);
    std::vector<TrackPoint*> points;
    for (TrackPoint& p : keyframe.trackPoints) {
      if (!p.inImage) continue;
      p.sourceLevel = level;
      p.searchLevel = level;
      points.push_back(&p);
    }
    searchPointsInKeyframe(keyframe, points, frame, 8, 5);
    const double scale = 1 << level;
    std::vector<double> errorX, errorY;
    double worstProjection = 0;
    for (const TrackPoint* p : points) {
      if (!p->isFound) continue;
      // The corner's level-1 pixel centre at full resolution, moved, then on
      // this level.
      const double x = (2.0 * p->corner->x + 0.5 + dx + 0.5) / scale - 0.5;
      const double y = (2.0 * p->corner->y + 0.5 + dy + 0.5) / scale - 0.5;
      errorX.push_back(p->found[0] - x);
      errorY.push_back(p->found[1] - y);
      worstProjection = std::max(
          {worstProjection, std::fabs(p->projected[0] - x), std::fabs(p->projected[1] - y)});
    }
    ASSERT_GE(errorX.size(), 30u);
    EXPECT_LT(worstProjection, 1e-3);
    EXPECT_NEAR(medianOf(errorX), 0.0, 0.05);
    EXPECT_NEAR(medianOf(errorY), 0.0, 0.05);
  }
}

// Templates cut from the previous frame where its pose puts the corners are
// found in a frame moved by a sub-pixel amount where they really lie, to a
// small fraction of a pixel (whole-pixel matches would be off by up to half).
TEST(PreviousFrameSearch, MatchesAreSubpixel) {
  const double dx = 0.375, dy = -0.625;  // full-resolution pixels
  Keyframe keyframe;
  keyframe.buildPyramid(multiScaleTexture(640, 480, 0, 0));
  ASSERT_TRUE(detectTrackingCorners(&keyframe));  // on level 1
  keyframe.buildTrackPoints();
  Frame previous;
  previous.buildPyramid(multiScaleTexture(640, 480, 0, 0));
  Frame frame;
  frame.buildPyramid(multiScaleTexture(640, 480, dx, dy));
  const Mat44f previousPose = viewPose({0, 0, 0}, {0, 0, 1});
  const Mat44f pose = viewPose({0, 0, 0}, {dx / 640, dy / 640, 1});
  prepareTrackPoints(keyframe, frame, pose);
  std::vector<TrackPoint*> points;
  for (TrackPoint& p : keyframe.trackPoints) {
    if (!p.inImage) continue;
    p.sourceLevel = p.searchLevel = trackingBaseLevel(frame);
    points.push_back(&p);
  }
  ASSERT_GE(searchPointsInPreviousFrame(previous, previousPose, points, frame, pose), 30);
  std::vector<double> errors;
  for (const TrackPoint* p : points) {
    if (!p->isFound) continue;
    // The corner's level-1 pixel centre, moved.
    const double x = p->corner->x + dx / 2, y = p->corner->y + dy / 2;
    errors.push_back(std::hypot(p->found[0] - x, p->found[1] - y));
  }
  EXPECT_LT(medianOf(errors), 0.08);
}

// The smoothing kernel pinned on an impulse and at a repeated border.
TEST(KeyframeSearch, SmoothingForMinification) {
  GrayImage image(5, 4);
  image.pixels[2 * 5 + 2] = 128;  // (2, 2)
  image.pixels[0] = 64;           // corner (0, 0)
  const auto smoothed = smoothForMinification(image);
  const uint8_t expected[20] = {49, 7,  0,  0,  0,  //
                                7,  3,  12, 2,  0,  //
                                0,  12, 72, 12, 0,  //
                                0,  2,  12, 2,  0};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(smoothed->pixels[i], expected[i]) << i;
}

// A target seen at 55-70 % of its keyframe levels' scale: templates that
// minify are matched to a tenth of a level pixel or so, on the base level and
// one up (plain samples of the sharp level alias: 0.15-0.2 px).
TEST(KeyframeSearch, MinifyingTemplatesMatchPrecisely) {
  const auto photo =
      testing_images::loadGrayJpeg(std::string(VORNIK_DATA_DIR) + "/photos/rocket.jpg");
  ASSERT_TRUE(photo);
  Keyframe keyframe;
  keyframe.buildPyramid(
      std::make_unique<GrayImage>(photo->width, photo->height, photo->pixels.get()));
  ASSERT_TRUE(detectTrackingCorners(&keyframe));
  keyframe.buildTrackPoints();
  std::vector<double> errors;
  for (const float depth : {1.4286f, 1.8f}) {
    const Mat44f pose = viewPose({0.05f, -0.08f, 0.02f}, {0.01f, -0.02f, depth});
    Frame frame;
    frame.buildPyramid(testing_images::renderPlane(*photo, pose, 640, 480));
    for (const int32_t raise : {0, 1}) {
      prepareTrackPoints(keyframe, frame, pose);
      std::vector<TrackPoint*> points;
      for (TrackPoint& p : keyframe.trackPoints) {
        if (!p.inImage) continue;
        p.sourceLevel += raise;
        p.searchLevel += raise;
        points.push_back(&p);
      }
      ASSERT_GE(searchPointsInKeyframe(keyframe, points, frame, 15, 5), 100);
      for (const TrackPoint* p : points) {
        if (p->isFound) {
          errors.push_back(
              std::hypot(p->found[0] - p->projected[0], p->found[1] - p->projected[1]));
        }
      }
    }
  }
  EXPECT_LT(medianOf(errors), 0.14);
}

}  // namespace
}  // namespace vornik
