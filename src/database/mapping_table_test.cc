#include "database/mapping_table.h"

#include <gtest/gtest.h>

#include "database/database_test_util.h"

namespace vornik {
namespace {

TEST(MappingTable, KeepsDistinctNamesInFirstAddedOrderAndSavesKeysAscending) {
  MappingTable table;
  const std::string dir = testutil::freshTestDir();
  ASSERT_EQ(table.save(dir + "/empty.tbl"), 0);
  EXPECT_TRUE(std::filesystem::exists(dir + "/empty.tbl"));
  EXPECT_TRUE(testutil::readBytes(dir + "/empty.tbl").empty());
  table.add(5, "a");
  table.add(0xFFFFFF, "z");
  table.add(5, "bc");
  table.add(5, "a");
  table.add(0x000102, "bc");
  EXPECT_EQ(*table.find(5), (NameList{"a", "bc"}));
  // An absent key gives an empty list and inserts nothing.
  EXPECT_TRUE(table.find(7)->empty());
  EXPECT_EQ(table.keyCount(), 3u);
  EXPECT_EQ(table.pairCount(), 4u);
  const std::vector<uint8_t> expected = {0, 0,    0,    5,    0, 0, 0, 1, 'a',       //
                                         0, 0,    0,    5,    0, 0, 0, 2, 'b', 'c',  //
                                         0, 0,    1,    2,    0, 0, 0, 2, 'b', 'c',  //
                                         0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 'z'};
  EXPECT_EQ(table.serialize(), expected);
  ASSERT_EQ(table.save(dir + "/t.tbl"), 0);
  EXPECT_EQ(testutil::readBytes(dir + "/t.tbl"), expected);
  EXPECT_EQ(table.save(dir + "/missing/t.tbl"), 6);
}

TEST(MappingTable, BulkAddMatchesOneByOneAdds) {
  std::vector<std::string> names = {"n0", "n1", "a-much-longer-target-name-2", "n3"};
  std::vector<std::pair<int32_t, uint32_t>> pairs;
  uint32_t state = 7;
  for (int i = 0; i < 3000; ++i) {
    state = state * 1664525u + 1013904223u;
    // Few keys, so lists get several names in a scrambled first-seen order.
    pairs.emplace_back(static_cast<int32_t>((state >> 20) % 300) * 0x10101, (state >> 10) % 4);
  }
  // Keys outside 24 bits take the comparison sort.
  const std::vector<std::pair<int32_t, uint32_t>> widePairs = {
      {-3, 1}, {1 << 30, 0}, {-3, 0}, {2, 2}, {-3, 1}};
  for (const auto& input : {pairs, widePairs}) {
    MappingTable oneByOne;
    for (const auto& pair : input) oneByOne.add(pair.first, names[pair.second]);
    MappingTable bulk;
    std::vector<std::pair<int32_t, uint32_t>> copy = input;
    bulk.addAll(copy, names);
    EXPECT_EQ(bulk.serialize(), oneByOne.serialize());
    EXPECT_EQ(bulk.keyCount(), oneByOne.keyCount());
    for (const auto& pair : input) EXPECT_EQ(*bulk.find(pair.first), *oneByOne.find(pair.first));

    // Later adds and a second bulk add extend the shared lists correctly.
    bulk.add(input[0].first, "late");
    oneByOne.add(input[0].first, "late");
    std::vector<std::pair<int32_t, uint32_t>> more = {{5, 0}, {input[1].first, 3}, {5, 1}};
    for (const auto& pair : more) oneByOne.add(pair.first, names[pair.second]);
    bulk.addAll(more, names);
    EXPECT_EQ(bulk.serialize(), oneByOne.serialize());
    // The unshared look-up gives the same lists, for keys added late too.
    for (const auto& pair : input) EXPECT_EQ(bulk.names(pair.first), *oneByOne.find(pair.first));
    EXPECT_EQ(bulk.names(5), *oneByOne.find(5));
    EXPECT_TRUE(bulk.names(4).empty());
  }
}

}  // namespace
}  // namespace vornik
