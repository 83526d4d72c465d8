#include "features/descriptor_key.h"

#include <algorithm>

namespace vornik {
namespace {

// The first cell of the largest (smallest) byte. Byte and cell are packed
// into one number whose extreme is that cell, so the scan has no branch.
int32_t argMax(const uint8_t* d, int component) {
  int best = 0;
  for (int k = 0; k < 16; ++k) best = std::max(best, d[4 * k + component] * 16 + (15 - k));
  return 15 - (best & 15);
}

int32_t argMin(const uint8_t* d, int component) {
  int best = 1 << 30;
  for (int k = 0; k < 16; ++k) best = std::min(best, d[4 * k + component] * 16 + k);
  return best & 15;
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
    // Gap and cell in one number, gap * 16 + cell, so the smallest is the
    // first cell of the closest value and the scan needs no branch.
    int best = 1 << 30;
    for (int k = 0; k < 16; ++k) {
      const int other = d[4 * k + field.component];
      const int g = field.maximum ? value - other : other - value;
      best = std::min(best, k == extreme ? 1 << 30 : g * 16 + k);
    }
    const int gap = best >> 4;
    const int takeover = best & 15;
    const int needed = gap + (takeover > extreme ? 1 : 0);
    if (needed > maxSteps) continue;
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
