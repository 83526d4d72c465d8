#include "features/fast.h"

#include <algorithm>
#include <cassert>
#include <cstddef>

namespace vornik {

const int32_t kFastCircle[16][2] = {{0, 3},  {1, 3},  {2, 2},  {3, 1},   {3, 0},   {3, -1},
                                    {2, -2}, {1, -3}, {0, -3}, {-1, -3}, {-2, -2}, {-3, -1},
                                    {-3, 0}, {-3, 1}, {-2, 2}, {-1, 3}};

namespace {

constexpr size_t kInitialCornerRoom = 512;
constexpr int32_t kArc = 12;

// True when the 16-bit circular mask holds a run of at least 12 set bits.
inline bool hasArc(uint32_t mask) {
  uint32_t m = mask | (mask << 16);
  // After the shifts, bit i is set only if bits i .. i+11 all were.
  m &= m >> 1;
  m &= m >> 2;
  m &= m >> 4;
  m &= m >> 4;
  return (m & 0xFFFFu) != 0;
}

// Brighter / darker masks of the circle around one pixel.
inline void circleMasks(const uint8_t* p, const int32_t offsets[16], int32_t threshold,
                        uint32_t* bright, uint32_t* dark) {
  const int32_t hi = p[0] + threshold;
  const int32_t lo = p[0] - threshold;
  uint32_t b = 0;
  uint32_t d = 0;
  for (int i = 0; i < 16; ++i) {
    const int32_t v = p[offsets[i]];
    b |= static_cast<uint32_t>(v > hi) << i;
    d |= static_cast<uint32_t>(v < lo) << i;
  }
  *bright = b;
  *dark = d;
}

}  // namespace

void fastCircleOffsets(int32_t stride, int32_t offsets[16]) {
  for (int i = 0; i < 16; ++i) offsets[i] = kFastCircle[i][0] + kFastCircle[i][1] * stride;
}

bool passesFast12(const uint8_t* pixel, const int32_t offsets[16], int32_t threshold) {
  uint32_t bright;
  uint32_t dark;
  circleMasks(pixel, offsets, threshold, &bright, &dark);
  return hasArc(bright) || hasArc(dark);
}

void detectFast12(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                  int32_t threshold, std::vector<Corner>* corners) {
  corners->clear();
  if (corners->capacity() < kInitialCornerRoom) corners->reserve(kInitialCornerRoom);
  if (pixels == nullptr || width < 7 || height < 7) return;
  int32_t offsets[16];
  fastCircleOffsets(stride, offsets);
  const int32_t up = -3 * stride;
  const int32_t down = 3 * stride;
  for (int32_t y = 3; y < height - 3; ++y) {
    const uint8_t* row = pixels + static_cast<ptrdiff_t>(y) * stride;
    for (int32_t x = 3; x < width - 3; ++x) {
      const uint8_t* p = row + x;
      const int32_t hi = p[0] + threshold;
      const int32_t lo = p[0] - threshold;
      // Any 12-pixel arc covers at least three of the four compass pixels.
      const int32_t n = p[down], e = p[3], s = p[up], w = p[-3];
      const int brighter = (n > hi) + (e > hi) + (s > hi) + (w > hi);
      const int darker = (n < lo) + (e < lo) + (s < lo) + (w < lo);
      if (brighter < 3 && darker < 3) continue;
      uint32_t bright;
      uint32_t dark;
      circleMasks(p, offsets, threshold, &bright, &dark);
      if (hasArc(bright) || hasArc(dark)) corners->push_back(Corner{x, y});
    }
  }
}

std::vector<Corner> detectFast12(const uint8_t* pixels, int32_t width, int32_t height,
                                 int32_t stride, int32_t threshold) {
  std::vector<Corner> corners;
  detectFast12(pixels, width, height, stride, threshold, &corners);
  return corners;
}

int32_t scoreFast12(const uint8_t* pixel, const int32_t offsets[16], int32_t threshold) {
  int32_t bmin = threshold;
  int32_t bmax = 255;
  int32_t b = (bmin + bmax) / 2;
  for (;;) {
    if (passesFast12(pixel, offsets, b)) {
      bmin = b;
    } else {
      bmax = b;
    }
    if (bmin == bmax - 1 || bmin == bmax) return bmin;
    b = (bmin + bmax) / 2;
  }
}

int32_t scoreFast12(const uint8_t* pixel, int32_t stride, int32_t threshold) {
  int32_t offsets[16];
  fastCircleOffsets(stride, offsets);
  return scoreFast12(pixel, offsets, threshold);
}

void scoreFast12(const uint8_t* pixels, int32_t stride, const std::vector<Corner>& corners,
                 int32_t threshold, std::vector<int32_t>* scores) {
  int32_t offsets[16];
  fastCircleOffsets(stride, offsets);
  scores->resize(corners.size());
  for (size_t i = 0; i < corners.size(); ++i) {
    const Corner& c = corners[i];
    (*scores)[i] =
        scoreFast12(pixels + static_cast<ptrdiff_t>(c.y) * stride + c.x, offsets, threshold);
  }
}

void suppressNonMax(const std::vector<Corner>& corners, const std::vector<int32_t>& scores,
                    std::vector<ScoredCorner>* kept) {
  kept->clear();
  const size_t n = std::min(corners.size(), scores.size());
  if (n == 0) return;
  assert(corners.size() == scores.size());
  // First corner index of each row, -1 for rows without corners.
  // Sized from the real extremes so out-of-order input cannot index outside.
  int32_t lastRow = 0;
  for (size_t i = 0; i < n; ++i) {
    if (corners[i].y < 0) return;
    lastRow = std::max(lastRow, corners[i].y);
  }
  std::vector<int32_t> rowStart(static_cast<size_t>(lastRow) + 2, -1);
  for (size_t i = n; i-- > 0;) rowStart[corners[i].y] = static_cast<int32_t>(i);

  // Cursor into a neighbour row: advances monotonically because x grows
  // within a row, so each row is walked once per neighbour row.
  auto neighbourRowBeats = [&](size_t* cursor, int32_t y, int32_t x, int32_t score) {
    size_t j = *cursor;
    while (j < n && corners[j].y == y && corners[j].x < x - 1) ++j;
    *cursor = j;
    for (; j < n && corners[j].y == y && corners[j].x <= x + 1; ++j) {
      if (scores[j] >= score) return true;
    }
    return false;
  };

  int32_t currentRow = -1;
  size_t above = n;
  size_t below = n;
  for (size_t i = 0; i < n; ++i) {
    const Corner& c = corners[i];
    const int32_t score = scores[i];
    if (c.y != currentRow) {
      currentRow = c.y;
      const int32_t a = c.y > 0 ? rowStart[c.y - 1] : -1;
      const int32_t b = rowStart[c.y + 1];
      above = a >= 0 ? static_cast<size_t>(a) : n;
      below = b >= 0 ? static_cast<size_t>(b) : n;
    }
    if (i > 0 && corners[i - 1].y == c.y && corners[i - 1].x == c.x - 1 && scores[i - 1] >= score) {
      continue;
    }
    if (i + 1 < n && corners[i + 1].y == c.y && corners[i + 1].x == c.x + 1 &&
        scores[i + 1] >= score) {
      continue;
    }
    if (neighbourRowBeats(&above, c.y - 1, c.x, score)) continue;
    if (neighbourRowBeats(&below, c.y + 1, c.x, score)) continue;
    kept->push_back(ScoredCorner{c.x, c.y, score});
  }
}

std::vector<ScoredCorner> suppressNonMax(const std::vector<Corner>& corners,
                                         const std::vector<int32_t>& scores) {
  std::vector<ScoredCorner> kept;
  suppressNonMax(corners, scores, &kept);
  return kept;
}

}  // namespace vornik
