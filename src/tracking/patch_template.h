#pragma once
#include <cstdint>

namespace vornik {

// 8 x 8 grey template of one track point with what the correlation search
// and the sub-pixel refinement keep about it. Created on a point's first
// search and overwritten by every later one.
struct PatchTemplate {
  static constexpr int32_t kSize = 8;
  static constexpr int32_t kPixels = kSize * kSize;

  uint8_t pixels[kPixels] = {};  // row-major
  int32_t sum = 0;
  int32_t sumSquares = 0;
  float score = 0.0f;  // best correlation of the last coarse search (0 on failure)
  // Central differences of the inner 6 x 6 pixels, row stride 8.
  float gradientX[kPixels] = {};
  float gradientY[kPixels] = {};
  float inverseNormal[9] = {};  // row-major 3 x 3
  float subpixelX = 0.0f;
  float subpixelY = 0.0f;
  float meanDifference = 0.0f;  // brightness offset estimated with the position
};

}  // namespace vornik
