#include "features/corner_detection.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "features/fast.h"
#include "features/random.h"
#include "manager/log.h"

namespace vornik {

namespace {

// Fixed so the same frame always yields the same tracking corners.
constexpr uint32_t kShuffleSeed = 0x5EED1234u;

void sortByScoreStable(const std::vector<ScoredCorner>& corners,
                       std::vector<ScoredCorner>* sorted) {
  // Scores are 0..254 (FAST scores are capped below 255): a counting sort is
  // linear and, like a stable sort, keeps equal scores in their input order.
  constexpr int32_t kScores = 256;
  size_t start[kScores + 1] = {};
  for (const ScoredCorner& c : corners) ++start[kScores - 1 - std::min(std::max(c.score, 0), 255)];
  size_t next = 0;
  for (int32_t i = 0; i <= kScores; ++i) {
    const size_t count = start[i];
    start[i] = next;
    next += count;
  }
  sorted->resize(corners.size());
  for (const ScoredCorner& c : corners) {
    (*sorted)[start[kScores - 1 - std::min(std::max(c.score, 0), 255)]++] = c;
  }
}

}  // namespace

int32_t recognitionQuota(int32_t levelCount, int32_t level, int32_t budget) {
  const int32_t last = levelCount - 1;
  if (last <= 0 || level < 0 || level >= last) return 0;
  const int32_t total = last * (last + 1) / 2;
  return ((last - level) * budget) / total;
}

bool detectRecognitionCorners(const Frame& frame, HessianGradientFeatureMngr* features,
                              int32_t budget) {
  if (features == nullptr) {
    logMessage("detectRecognitionCorners: no feature list\n");
    return false;
  }
  const int32_t levelCount = frame.levelCount();
  const GrayImage* base = frame.getLevel(0);
  FastScratch scratch;
  std::vector<ScoredCorner> kept;
  std::vector<ScoredCorner> byScore;
  for (int32_t level = 0; level < levelCount - 1; ++level) {
    const GrayImage* image = frame.getLevel(level);
    const int32_t quota = recognitionQuota(levelCount, level, budget);
    if (image == nullptr || quota <= 0) continue;
    const int32_t w = image->width;
    const int32_t h = image->height;
    const uint8_t* pixels = image->pixels.get();
    detectScoredCorners(pixels, w, h, w, kRecognitionFastThreshold, &scratch, &kept);
    sortByScoreStable(kept, &byScore);

    int32_t offsets[16];
    fastCircleOffsets(w, offsets);
    const float scale = static_cast<float>(base->width) / static_cast<float>(w);
    int32_t accepted = 0;
    for (const ScoredCorner& c : byScore) {
      if (accepted >= quota) break;
      if (c.x < kRecognitionBorder || c.x >= w - kRecognitionBorder || c.y < kRecognitionBorder ||
          c.y >= h - kRecognitionBorder) {
        continue;
      }
      const uint8_t* p = pixels + static_cast<ptrdiff_t>(c.y) * w + c.x;
      int32_t sum = 0;
      for (int i = 0; i < 16; ++i) sum += p[offsets[i]] - p[0];
      auto feature = std::make_shared<HessianGradientFeature>();
      feature->scale = scale;
      feature->level = level;
      feature->x = c.x;
      feature->y = c.y;
      feature->polarity = sum >= 0 ? 1 : 0;
      features->addFeature(level, std::move(feature));
      ++accepted;
    }
  }
  return true;
}

bool detectTrackingCorners(Frame* frame) {
  if (frame == nullptr) return false;
  const int32_t index = frame->firstLevel() + frame->levelCount() - 3;
  const GrayImage* image = frame->getLevel(index);
  if (image == nullptr) return false;
  frame->corners.clear();
  const int32_t w = image->width;
  const int32_t h = image->height;
  const int32_t cols = frame->gridCols();
  const int32_t rows = frame->gridRows();
  // At least 1 so tiny levels cannot divide by zero.
  const int32_t cellWidth = std::max(w / cols, 1);
  const int32_t cellHeight = std::max(h / rows, 1);

  const uint8_t* pixels = image->pixels.get();
  FastScratch scratch;
  std::vector<ScoredCorner> kept;
  detectScoredCorners(pixels, w, h, w, kTrackingFastThreshold, &scratch, &kept);

  std::vector<std::vector<Corner>> cells(static_cast<size_t>(rows * cols));
  for (const ScoredCorner& c : kept) {
    const int32_t col = std::min(c.x / cellWidth, cols - 1);
    const int32_t row = std::min(c.y / cellHeight, rows - 1);
    cells[row * cols + col].push_back(Corner{c.x, c.y});
  }
  Random random(kShuffleSeed);
  for (auto& cell : cells) {
    for (size_t i = cell.size(); i > 1; --i) {
      const size_t j = random.uniform(static_cast<uint32_t>(i));
      std::swap(cell[i - 1], cell[j]);
    }
  }

  const size_t target = std::min(kept.size(), static_cast<size_t>(kTrackingCornerTarget));
  frame->corners.reserve(target + cells.size());
  for (size_t pass = 0; frame->corners.size() < target; ++pass) {
    for (const auto& cell : cells) {
      if (pass < cell.size()) {
        KeyframeCorner corner;
        corner.x = cell[pass].x;
        corner.y = cell[pass].y;
        frame->corners.push_back(corner);
      }
    }
  }
  const GrayImage* full = frame->getLevel(0);
  normalizeCorners(full->width, full->height, index, &frame->corners);
  return true;
}

}  // namespace vornik
