#include "features/descriptor_key.h"

#include <gtest/gtest.h>

#include <array>

namespace vornik {
namespace {

using Bytes = std::array<uint8_t, 64>;

TEST(DescriptorKeyTest, AllEqualBytesGiveZero) {
  Bytes d;
  d.fill(200);
  EXPECT_EQ(descriptorKey(d.data()), 0);
  d.fill(0);
  EXPECT_EQ(descriptorKey(d.data()), 0);
}

TEST(DescriptorKeyTest, LastCellMaximumOfComponentZero) {
  Bytes d;
  d.fill(10);
  d[4 * 15 + 0] = 11;
  EXPECT_EQ(descriptorKey(d.data()), 0xF00000);
}

TEST(DescriptorKeyTest, LoneMaximumInCellFive) {
  Bytes d;
  d.fill(200);
  d[4 * 5 + 0] = 250;
  const int32_t key = descriptorKey(d.data());
  EXPECT_EQ(key >> 20, 5);
  EXPECT_EQ((key >> 16) & 15, 0);
  EXPECT_EQ(key, 0x500000);
}

TEST(DescriptorKeyTest, EveryFieldInItsNibbleAndFirstExtremeWins) {
  Bytes d;
  d.fill(100);
  d[4 * 3 + 0] = 250;   // M0 = 3
  d[4 * 12 + 0] = 250;  // a later equal maximum loses
  d[4 * 7 + 0] = 1;     // N0 = 7
  d[4 * 11 + 2] = 255;  // M2 = 11
  d[4 * 2 + 2] = 0;     // N2 = 2
  d[4 * 14 + 1] = 180;  // M1 = 14
  d[4 * 9 + 3] = 101;   // M3 = 9
  d[4 * 10 + 3] = 99;   // a minimum of component 3 is not part of the key
  EXPECT_EQ(descriptorKey(d.data()), 0x37B2E9);
}

}  // namespace
}  // namespace vornik
