#include "features/descriptor_key.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

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
}

}  // namespace
}  // namespace vornik
