#include "features/fast.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <utility>
#include <vector>

#include "features/test_photos.h"

namespace vornik {
namespace {

// Direct form of the segment test: try every start of a 12-pixel arc.
bool slowPasses(const std::vector<uint8_t>& img, int w, int x, int y, int t) {
  const int c = img[y * w + x];
  for (int sign = 0; sign < 2; ++sign) {
    for (int start = 0; start < 16; ++start) {
      bool all = true;
      for (int k = 0; k < 12 && all; ++k) {
        const int i = (start + k) % 16;
        const int v = img[(y + kFastCircle[i][1]) * w + x + kFastCircle[i][0]];
        all = sign == 0 ? v > c + t : v < c - t;
      }
      if (all) return true;
    }
  }
  return false;
}

int slowScore(const std::vector<uint8_t>& img, int w, int x, int y, int t) {
  int b = t;
  while (b < 255 && slowPasses(img, w, x, y, b + 1)) ++b;
  return b;
}

// Kept corners as (x, y, score) rows, found by comparing every pair.
std::vector<std::array<int, 3>> slowSuppress(const std::vector<Corner>& corners,
                                             const std::vector<int32_t>& scores) {
  std::vector<std::array<int, 3>> kept;
  for (size_t i = 0; i < corners.size(); ++i) {
    bool removed = false;
    for (size_t j = 0; j < corners.size() && !removed; ++j) {
      const int dx = corners[j].x - corners[i].x;
      const int dy = corners[j].y - corners[i].y;
      removed = i != j && dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1 && scores[j] >= scores[i];
    }
    if (!removed) kept.push_back({corners[i].x, corners[i].y, scores[i]});
  }
  return kept;
}

// Random rectangles of random grey on a random background: many true
// corners, edges and flat areas.
std::vector<uint8_t> blockImage(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> img(static_cast<size_t>(w) * h, static_cast<uint8_t>(rng()));
  for (int n = 0; n < 60; ++n) {
    const int x0 = rng() % w, y0 = rng() % h;
    const int x1 = std::min(w, x0 + 3 + static_cast<int>(rng() % 30));
    const int y1 = std::min(h, y0 + 3 + static_cast<int>(rng() % 30));
    const uint8_t v = static_cast<uint8_t>(rng());
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) img[y * w + x] = v;
  }
  return img;
}

std::vector<uint8_t> noiseImage(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> img(static_cast<size_t>(w) * h);
  for (auto& p : img) p = static_cast<uint8_t>(rng());
  return img;
}

void checkAgainstSlow(const std::vector<uint8_t>& img, int w, int h, int t) {
  const std::vector<Corner> corners = detectFast12(img.data(), w, h, w, t);
  std::vector<std::pair<int, int>> found, expected;
  for (const Corner& c : corners) found.push_back({c.x, c.y});
  for (int y = 3; y < h - 3; ++y)
    for (int x = 3; x < w - 3; ++x)
      if (slowPasses(img, w, x, y, t)) expected.push_back({x, y});
  ASSERT_EQ(found, expected);
  std::vector<int32_t> scores;
  scoreFast12(img.data(), w, corners, t, &scores);
  for (size_t i = 0; i < corners.size(); ++i) {
    ASSERT_EQ(scores[i], slowScore(img, w, corners[i].x, corners[i].y, t))
        << corners[i].x << "," << corners[i].y;
  }
  std::vector<std::array<int, 3>> kept;
  for (const ScoredCorner& c : suppressNonMax(corners, scores)) kept.push_back({c.x, c.y, c.score});
  ASSERT_EQ(kept, slowSuppress(corners, scores));
  FastScratch scratch;
  std::vector<ScoredCorner> fused = {{1, 2, 3}};
  detectScoredCorners(img.data(), w, h, w, t, &scratch, &fused);
  std::vector<std::array<int, 3>> fusedRows;
  for (const ScoredCorner& c : fused) fusedRows.push_back({c.x, c.y, c.score});
  ASSERT_EQ(fusedRows, kept);
}

TEST(FastTest, MatchesDirectArcCheckOnSyntheticImagesAndPhotos) {
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE(seed);
    checkAgainstSlow(blockImage(97, 83, seed), 97, 83, 12);
    checkAgainstSlow(blockImage(64, 64, seed + 10), 64, 64, 40);
    checkAgainstSlow(noiseImage(61, 47, seed), 61, 47, 13);
    // Thresholds at the ends of the range, where a score reaches 254 or
    // the plane value 255, and sizes that leave no full 16-pixel block.
    for (int t : {0, 1, 200, 253, 254, 255}) checkAgainstSlow(noiseImage(41, 23, seed), 41, 23, t);
    checkAgainstSlow(noiseImage(7, 7, seed), 7, 7, 5);
    std::vector<uint8_t> binary = noiseImage(53, 29, seed);
    for (uint8_t& v : binary) v = v < 40 ? 0 : 255;  // arcs of full strength 255
    checkAgainstSlow(binary, 53, 29, 12);
    checkAgainstSlow(blockImage(22, 9, seed), 22, 9, 12);
  }
  for (const char* name : {"camera.jpg", "text.jpg", "brick.jpg"}) {
    SCOPED_TRACE(name);
    const auto photo = testing_photos::loadPhoto(testing_photos::photoPath(name));
    ASSERT_GT(photo.width, 0);
    const int w = 160, h = 120;
    const auto crop = testing_photos::grayCrop(photo, 100, 100, w, h);
    checkAgainstSlow(crop, w, h, 12);
  }
}

TEST(FastTest, StrideLargerThanWidthAndEmptyInputs) {
  const int w = 20, h = 20, stride = 32;
  std::vector<uint8_t> img(static_cast<size_t>(stride) * h, 50);
  img[10 * stride + 10] = 200;  // bright dot: its ring is all darker
  img[5 * stride + 25] = 250;   // outside the width: never inspected
  const auto corners = detectFast12(img.data(), w, h, stride, 12);
  ASSERT_EQ(corners.size(), 1u);
  EXPECT_EQ(corners[0].x, 10);
  EXPECT_EQ(corners[0].y, 10);
  EXPECT_EQ(scoreFast12(&img[10 * stride + 10], stride, 12), 149);  // passes for every b < 150
  FastScratch scratch;
  std::vector<ScoredCorner> fused;
  detectScoredCorners(img.data(), w, h, stride, 12, &scratch, &fused);
  ASSERT_EQ(fused.size(), 1u);
  EXPECT_EQ(std::make_pair(fused[0].x, fused[0].y), std::make_pair(10, 10));
  EXPECT_EQ(fused[0].score, 149);
  detectScoredCorners(nullptr, 200, 100, 200, 12, &scratch, &fused);
  EXPECT_TRUE(fused.empty());
  EXPECT_TRUE(detectFast12(img.data(), 6, 6, 6, 12).empty());
  EXPECT_TRUE(detectFast12(nullptr, 200, 100, 200, 12).empty());
  EXPECT_TRUE(suppressNonMax({}, {}).empty());
}

}  // namespace
}  // namespace vornik
