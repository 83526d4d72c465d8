#include "features/descriptor_key.h"

namespace vornik {
namespace {

int32_t argMax(const uint8_t* d, int component) {
  int32_t best = 0;
  for (int k = 1; k < 16; ++k) {
    if (d[4 * k + component] > d[4 * best + component]) best = k;
  }
  return best;
}

int32_t argMin(const uint8_t* d, int component) {
  int32_t best = 0;
  for (int k = 1; k < 16; ++k) {
    if (d[4 * k + component] < d[4 * best + component]) best = k;
  }
  return best;
}

}  // namespace

int32_t descriptorKey(const uint8_t* d) {
  return argMax(d, 0) << 20 | argMin(d, 0) << 16 | argMax(d, 2) << 12 | argMin(d, 2) << 8 |
         argMax(d, 1) << 4 | argMax(d, 3);
}

}  // namespace vornik
