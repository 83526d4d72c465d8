#include "features/descriptor_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "features/random.h"

namespace vornik {
namespace {

TEST(DescriptorKeyTest, FieldsNibblesAndFirstExtremes) {
  struct Case {
    const char* name;
    uint8_t fill;
    std::vector<std::pair<int, uint8_t>> bytes;  // index 4 * cell + component, value
    int32_t key;
  };
  const Case cases[] = {
      {"all 200", 200, {}, 0},
      {"all 0", 0, {}, 0},
      {"maximum of component 0 in the last cell", 10, {{4 * 15 + 0, 11}}, 0xF00000},
      {"lone maximum in cell 5: M0 5, N0 0", 200, {{4 * 5 + 0, 250}}, 0x500000},
      {"every field",
       100,
       {{4 * 3 + 0, 250},   // M0 = 3
        {4 * 12 + 0, 250},  // a later equal maximum loses
        {4 * 7 + 0, 1},     // N0 = 7
        {4 * 11 + 2, 255},  // M2 = 11
        {4 * 2 + 2, 0},     // N2 = 2
        {4 * 14 + 1, 180},  // M1 = 14
        {4 * 9 + 3, 101},   // M3 = 9
        {4 * 10 + 3, 99}},  // a minimum of component 3 is not part of the key
       0x37B2E9},
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 64> d;
    d.fill(c.fill);
    for (const auto& b : c.bytes) d[b.first] = b.second;
    EXPECT_EQ(descriptorKey(d.data()), c.key) << c.name;
  }
  // Random descriptors, half of them over four byte values so that ties are
  // common, against the first extreme as std::max_element finds it.
  Random random(11);
  for (int n = 0; n < 2000; ++n) {
    std::array<uint8_t, 64> d;
    for (uint8_t& b : d) {
      b = static_cast<uint8_t>(n % 2 ? random.uniform(256) : 100 + 50 * random.uniform(4));
    }
    auto first = [&](int component, bool maximum) {
      std::array<uint8_t, 16> cells;
      for (int k = 0; k < 16; ++k) cells[k] = d[4 * k + component];
      const auto it = maximum ? std::max_element(cells.begin(), cells.end())
                              : std::min_element(cells.begin(), cells.end());
      return static_cast<int32_t>(it - cells.begin());
    };
    const int32_t expected = first(0, true) << 20 | first(0, false) << 16 | first(2, true) << 12 |
                             first(2, false) << 8 | first(1, true) << 4 | first(3, true);
    ASSERT_EQ(descriptorKey(d.data()), expected) << n;
  }
}

// The slow model of the near keys: push each field's extreme toward the
// other cells one step at a time until the field changes.
std::vector<int32_t> nearKeysBySteps(const std::array<uint8_t, 64>& d, int maxSteps) {
  const int32_t key = descriptorKey(d.data());
  const int shifts[6] = {20, 16, 12, 8, 4, 0};
  const int components[6] = {0, 0, 2, 2, 1, 3};
  const bool maximum[6] = {true, false, true, false, true, true};
  std::vector<std::pair<int, int32_t>> found;  // steps, key
  for (int f = 0; f < 6; ++f) {
    const int cell = (key >> shifts[f]) & 15;
    for (int step = 1; step <= maxSteps; ++step) {
      std::array<uint8_t, 64> moved = d;
      uint8_t& b = moved[4 * cell + components[f]];
      b = static_cast<uint8_t>(maximum[f] ? b - step : b + step);
      const int32_t now = descriptorKey(moved.data());
      const int32_t field = now & (15 << shifts[f]);
      if (field == (key & (15 << shifts[f]))) continue;
      found.emplace_back(step, (key & ~(15 << shifts[f])) | field);
      break;
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<int32_t> keys;
  for (const auto& g : found) keys.push_back(g.second);
  return keys;
}

TEST(DescriptorKeyTest, NearKeysAreTheKeysOfTheExtremesOvertaken) {
  Random random(7);
  for (int trial = 0; trial < 600; ++trial) {
    // Narrow ranges make near ties common; bytes stay clear of 0 and 255 so
    // that the model's steps never wrap.
    const int lo = 20 + static_cast<int>(random.next() % 100);
    const int span = 1 + static_cast<int>(random.next() % (trial % 3 == 0 ? 8 : 120));
    std::array<uint8_t, 64> d;
    for (uint8_t& b : d) b = static_cast<uint8_t>(lo + random.next() % span);
    for (int maxSteps : {0, 1, 4, 12}) {
      int32_t keys[kMaxNearKeys];
      const int count = nearDescriptorKeys(d.data(), descriptorKey(d.data()), maxSteps, keys);
      EXPECT_EQ(std::vector<int32_t>(keys, keys + count), nearKeysBySteps(d, maxSteps))
          << "trial " << trial << " steps " << maxSteps;
    }
  }
}

}  // namespace
}  // namespace vornik
