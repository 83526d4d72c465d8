#include "features/enlarge.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vornik {

void enlargeDouble(const uint8_t* source, int32_t width, int32_t height, uint8_t* out) {
  if (source == nullptr || out == nullptr || width < 1 || height < 1) return;
  // One vertical blend (3 near + 1 far, at most 1020) per source column,
  // then the horizontal one on it: the two passes give the 9-3-3-1 weights
  // with a single rounding.
  std::vector<int32_t> blend(static_cast<size_t>(width) + 2);
  const size_t outWidth = static_cast<size_t>(width) * 2;
  for (int32_t y = 0; y < 2 * height; ++y) {
    const int32_t near = y >> 1;
    int32_t far = (y & 1) ? near + 1 : near - 1;
    if (far < 0) far = 0;
    if (far >= height) far = height - 1;
    const uint8_t* a = source + static_cast<size_t>(near) * width;
    const uint8_t* b = source + static_cast<size_t>(far) * width;
    int32_t* v = blend.data() + 1;  // v[-1] and v[width] repeat the edges
    for (int32_t x = 0; x < width; ++x) v[x] = 3 * a[x] + b[x];
    v[-1] = v[0];
    v[width] = v[width - 1];
    uint8_t* row = out + static_cast<size_t>(y) * outWidth;
    for (int32_t x = 0; x < width; ++x) {
      row[2 * x] = static_cast<uint8_t>((3 * v[x] + v[x - 1] + 8) >> 4);
      row[2 * x + 1] = static_cast<uint8_t>((3 * v[x] + v[x + 1] + 8) >> 4);
    }
  }
}

bool cutWindow(const uint8_t* source, int32_t width, int32_t height, float centreX, float centreY,
               int32_t windowWidth, int32_t windowHeight, std::vector<uint8_t>* out, int32_t* left,
               int32_t* top) {
  if (source == nullptr || out == nullptr || windowWidth < 1 || windowHeight < 1 ||
      windowWidth > width || windowHeight > height || !std::isfinite(centreX) ||
      !std::isfinite(centreY)) {
    return false;
  }
  const auto start = [](float centre, int32_t window, int32_t size) {
    const float first = std::clamp(centre - 0.5f * window, 0.0f, static_cast<float>(size - window));
    return static_cast<int32_t>(std::lround(first));
  };
  *left = start(centreX, windowWidth, width);
  *top = start(centreY, windowHeight, height);
  out->resize(static_cast<size_t>(windowWidth) * windowHeight);
  for (int32_t y = 0; y < windowHeight; ++y) {
    const uint8_t* row = source + static_cast<size_t>(*top + y) * width + *left;
    std::copy(row, row + windowWidth, out->data() + static_cast<size_t>(y) * windowWidth);
  }
  return true;
}

}  // namespace vornik
