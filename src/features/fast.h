#pragma once
#include <cstdint>
#include <vector>

namespace vornik {

struct Corner {
  int32_t x = 0;
  int32_t y = 0;
};

struct ScoredCorner {
  int32_t x = 0;
  int32_t y = 0;
  int32_t score = 0;
};

// The 16 pixels of the radius-3 Bresenham circle as (dx, dy), starting below
// the centre and going counter-clockwise in image coordinates.
extern const int32_t kFastCircle[16][2];

// Fills offsets[i] = dx + dy * stride for the circle pixels.
void fastCircleOffsets(int32_t stride, int32_t offsets[16]);

// Segment test: true when at least 12 contiguous circle pixels (modulo 16)
// are all brighter than centre + threshold or all darker than centre -
// threshold (strict).
bool passesFast12(const uint8_t* pixel, const int32_t offsets[16], int32_t threshold);

// Every pixel with 3 <= x < width - 3 and 3 <= y < height - 3 passing the
// segment test, in raster order. The second form reuses `corners`.
std::vector<Corner> detectFast12(const uint8_t* pixels, int32_t width, int32_t height,
                                 int32_t stride, int32_t threshold);
void detectFast12(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                  int32_t threshold, std::vector<Corner>* corners);

// Largest threshold in [threshold, 255] at which the pixel still passes,
// found by bisection (at most 8 tests).
int32_t scoreFast12(const uint8_t* pixel, const int32_t offsets[16], int32_t threshold);
int32_t scoreFast12(const uint8_t* pixel, int32_t stride, int32_t threshold);
// Scores of all corners of one image.
void scoreFast12(const uint8_t* pixels, int32_t stride, const std::vector<Corner>& corners,
                 int32_t threshold, std::vector<int32_t>* scores);

// Keeps, in raster order, the corners none of whose 8 neighbours has a score
// greater than or equal to their own (equal neighbours remove each other).
// `corners` must be in raster order and `scores` as long as `corners`.
std::vector<ScoredCorner> suppressNonMax(const std::vector<Corner>& corners,
                                         const std::vector<int32_t>& scores);
void suppressNonMax(const std::vector<Corner>& corners, const std::vector<int32_t>& scores,
                    std::vector<ScoredCorner>* kept);

// Row buffers detectScoredCorners keeps between calls.
struct FastScratch {
  std::vector<uint8_t> rows;
  std::vector<Corner> corners;
  std::vector<int32_t> scores;
};

// The corners suppressNonMax keeps of detectFast12's corners scored with
// scoreFast12, in the same raster order, in one pass over the image: the
// segment test, the score and the suppression work on rows of 16 pixels at
// a time. Replaces `kept`.
void detectScoredCorners(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                         int32_t threshold, FastScratch* scratch, std::vector<ScoredCorner>* kept);

}  // namespace vornik
