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
  // The lookup hands out the stored list itself.
  EXPECT_EQ(five.get(), table.find(5).get());
  EXPECT_EQ(table.keyCount(), 3u);
  EXPECT_EQ(table.pairCount(), 4u);
  std::vector<uint8_t> expected = {0, 0,    0,    1,    0, 0, 0, 1, 'b',  //
                                   0, 0,    0,    5,    0, 0, 0, 1, 'a',  //
                                   0, 0,    0,    5,    0, 0, 0, 1, 'b',  //
                                   0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 'z'};
  EXPECT_EQ(table.serialize(), expected);
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
