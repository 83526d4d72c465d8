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

// The six fields from the most significant: component, maximum or minimum.
struct KeyField {
  int component;
  bool maximum;
  int shift;
};
constexpr KeyField kKeyFields[kMaxNearKeys] = {{0, true, 20}, {0, false, 16}, {2, true, 12},
                                               {2, false, 8}, {1, true, 4},   {3, true, 0}};

}  // namespace

int nearDescriptorKeys(const uint8_t* d, int32_t key, int maxSteps, int32_t* keys) {
  int steps[kMaxNearKeys];
  int count = 0;
  for (const KeyField& field : kKeyFields) {
    const int extreme = (key >> field.shift) & 15;
    const int value = d[4 * extreme + field.component];
    // The cell that takes over: the first of the closest value. It wins a
    // tie only from before the extreme (the key takes the first extreme).
    int takeover = -1;
    int gap = 256;
    for (int k = 0; k < 16; ++k) {
      if (k == extreme) continue;
      const int other = d[4 * k + field.component];
      const int g = field.maximum ? value - other : other - value;
      if (g < gap) {
        gap = g;
        takeover = k;
      }
    }
    const int needed = gap + (takeover > extreme ? 1 : 0);
    if (takeover < 0 || needed > maxSteps) continue;
    // Insertion keeps the order: fewest steps first, then field order.
    int at = count;
    while (at > 0 && steps[at - 1] > needed) {
      steps[at] = steps[at - 1];
      keys[at] = keys[at - 1];
      --at;
    }
    steps[at] = needed;
    keys[at] = (key & ~(15 << field.shift)) | (takeover << field.shift);
    ++count;
  }
  return count;
}

int32_t descriptorKey(const uint8_t* d) {
  return argMax(d, 0) << 20 | argMin(d, 0) << 16 | argMax(d, 2) << 12 | argMin(d, 2) << 8 |
         argMax(d, 1) << 4 | argMax(d, 3);
}

}  // namespace vornik
