#include "features/vote_region.h"

namespace vornik {

int32_t densestDisc(const float* xs, const float* ys, size_t count, float radius, float* centreX,
                    float* centreY) {
  const float r2 = radius * radius;
  int32_t most = 0;
  // A recognizer's target has a few hundred voters at most: the square
  // count stays far below the cost of describing the frame.
  for (size_t i = 0; i < count; ++i) {
    int32_t inside = 0;
    for (size_t j = 0; j < count; ++j) {
      const float dx = xs[j] - xs[i];
      const float dy = ys[j] - ys[i];
      inside += dx * dx + dy * dy <= r2 ? 1 : 0;
    }
    if (inside > most) {
      most = inside;
      *centreX = xs[i];
      *centreY = ys[i];
    }
  }
  return most;
}

}  // namespace vornik
