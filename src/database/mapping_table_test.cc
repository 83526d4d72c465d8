#include "database/mapping_table.h"

#include <gtest/gtest.h>

#include "database/database_test_util.h"

namespace vornik {
namespace {

TEST(MappingTable, SavesTheDocumentedBytes) {
  MappingTable table;
  table.add(0x000102, "abc");
  std::string dir = testutil::freshTestDir();
  ASSERT_EQ(table.save(dir + "/t.tbl"), 0);
  EXPECT_EQ(testutil::readBytes(dir + "/t.tbl"),
            (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x03, 'a', 'b', 'c'}));
}

TEST(MappingTable, KeepsDistinctNamesInFirstAddedOrderAndKeysAscending) {
  MappingTable table;
  table.add(5, "a");
  table.add(0xFFFFFF, "z");
  table.add(5, "b");
  table.add(5, "a");
  table.add(1, "b");
  NameListPtr five = table.find(5);
  EXPECT_EQ(*five, (NameList{"a", "b"}));
  EXPECT_EQ(table.keyCount(), 3u);
  EXPECT_EQ(table.pairCount(), 4u);
  std::vector<uint8_t> expected = {0, 0,    0,    1,    0, 0, 0, 1, 'b',  //
                                   0, 0,    0,    5,    0, 0, 0, 1, 'a',  //
                                   0, 0,    0,    5,    0, 0, 0, 1, 'b',  //
                                   0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 'z'};
  EXPECT_EQ(table.serialize(), expected);
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
  MappingTable oneByOne;
  for (const auto& pair : pairs) oneByOne.add(pair.first, names[pair.second]);
  MappingTable bulk;
  std::vector<std::pair<int32_t, uint32_t>> copy = pairs;
  bulk.addAll(copy, names);
  EXPECT_EQ(bulk.serialize(), oneByOne.serialize());
  EXPECT_EQ(bulk.keyCount(), oneByOne.keyCount());
  for (const auto& pair : pairs) EXPECT_EQ(*bulk.find(pair.first), *oneByOne.find(pair.first));

  // Keys outside 24 bits take the comparison sort; the result is the same.
  MappingTable wide;
  MappingTable wideOneByOne;
  std::vector<std::pair<int32_t, uint32_t>> widePairs = {
      {-3, 1}, {1 << 30, 0}, {-3, 0}, {2, 2}, {-3, 1}};
  for (const auto& pair : widePairs) wideOneByOne.add(pair.first, names[pair.second]);
  wide.addAll(widePairs, names);
  EXPECT_EQ(wide.serialize(), wideOneByOne.serialize());

  // Later adds and a second bulk add extend the shared lists correctly.
  bulk.add(pairs[0].first, "late");
  oneByOne.add(pairs[0].first, "late");
  std::vector<std::pair<int32_t, uint32_t>> more = {{5, 0}, {pairs[1].first, 3}, {5, 1}};
  for (const auto& pair : more) oneByOne.add(pair.first, names[pair.second]);
  bulk.addAll(more, names);
  EXPECT_EQ(bulk.serialize(), oneByOne.serialize());
}

TEST(MappingTable, AbsentKeyGivesEmptyListAndInsertsNothing) {
  MappingTable table;
  EXPECT_TRUE(table.find(7)->empty());
  EXPECT_EQ(table.keyCount(), 0u);
  std::string dir = testutil::freshTestDir();
  ASSERT_EQ(table.save(dir + "/empty.tbl"), 0);
  EXPECT_TRUE(testutil::readBytes(dir + "/empty.tbl").empty());
  EXPECT_TRUE(std::filesystem::exists(dir + "/empty.tbl"));
}

TEST(MappingTable, SaveIntoMissingDirectoryFails) {
  MappingTable table;
  table.add(1, "a");
  std::string dir = testutil::freshTestDir();
  EXPECT_EQ(table.save(dir + "/missing/t.tbl"), 6);
}

}  // namespace
}  // namespace vornik
