#include "database/group_file_reader.h"

#include <gtest/gtest.h>

#include "database/ardb_mngr.h"
#include "database/database_test_util.h"

namespace vornik {
namespace {

struct ReadResult {
  int32_t code;
  std::vector<FileInfoPtr> entries;
  std::string printed;
};

ReadResult readGroup(const std::vector<uint8_t>& bytes) {
  std::string dir = testutil::freshTestDir();
  testutil::writeBytes(dir + "/g.db", bytes);
  ArdbMngr mngr;
  mngr.setArdbAssetDirPath(dir);
  ::testing::internal::CaptureStdout();
  ReadResult result;
  result.code = mngr.loadGroupFile("g.db");
  result.printed = ::testing::internal::GetCapturedStdout();
  result.entries = mngr.fileInfos();
  return result;
}

TEST(GroupFileReader, StructureDecidesTheResult) {
  const struct {
    std::vector<uint8_t> bytes;
    int32_t code;
    size_t entries;
    const char* printed;
  } cases[] = {
      {{}, 0, 0, ""},
      {{0x80}, 0, 0, ""},  // a record left open at the end
      {{0x80, 0x80}, 7, 0, ""},
      {{0xC0}, 7, 0, ""},
      {{0x01, 0x01, 'a'}, 7, 0, ""},
      {{0x02, 0, 0, 0, 0}, 7, 0, ""},
      {{0x80, 0xC0, 0xC0}, 7, 0, ""},
      {{0x80, 0x03}, 7, 0, "Unknown field id\n"},
      {{0x80, 0x01, 0x01, 'a', 0x02, 0, 0, 0, 1, 'x', 0xC0, 0xFF}, 7, 1, "Unknown field id\n"},
      {{0x80, 0x01}, 7, 0, ""},
      {{0x80, 0x01, 3, 'a', 'b'}, 7, 0, ""},
      {{0x80, 0x01, 1, 'a', 0x02, 0, 0}, 7, 0, ""},  // size cut short
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    ReadResult result = readGroup(c.bytes);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.entries.size(), c.entries);
    EXPECT_EQ(result.printed, c.printed);
  }
}

TEST(GroupFileReader, RecordsOffsetsSizesAndNames) {
  // Record 1: name "a.dat", two data fields; record 2 has no name field and
  // reuses "a.dat"; the entries before a later fault stay.
  std::vector<uint8_t> bytes = {0x80, 0x01, 5,   'a', '.',  'd', 'a',  't',  0x02, 0,   0,
                                0,    2,    'x', 'y', 0x02, 0,   0,    0,    1,    'z', 0xC0,
                                0x80, 0x02, 0,   0,   0,    0,   0xC0, 0x80, 0x80};
  ReadResult result = readGroup(bytes);
  EXPECT_EQ(result.code, 7);
  ASSERT_EQ(result.entries.size(), 3u);
  EXPECT_EQ(result.entries[0]->getEntryName(), "a.dat");
  EXPECT_EQ(result.entries[0]->entryOffset(), 13u);
  EXPECT_EQ(result.entries[0]->entrySize(), 2u);
  EXPECT_EQ(result.entries[1]->getEntryName(), "a.dat");
  EXPECT_EQ(result.entries[1]->entryOffset(), 20u);
  EXPECT_EQ(result.entries[1]->entrySize(), 1u);
  EXPECT_EQ(result.entries[2]->getEntryName(), "a.dat");
  EXPECT_EQ(result.entries[2]->entryOffset(), 28u);
  EXPECT_EQ(result.entries[2]->entrySize(), 0u);
}

TEST(GroupFileReader, DataBeforeAnyNameHasEmptyName) {
  ReadResult result = readGroup({0x80, 0x02, 0, 0, 0, 1, 'q', 0xC0});
  EXPECT_EQ(result.code, 0);
  ASSERT_EQ(result.entries.size(), 1u);
  EXPECT_EQ(result.entries[0]->getEntryName(), "");
}

TEST(GroupFileReader, SizeRunningPastTheEndIsRecordedAndEndsTheDirectory) {
  ReadResult result = readGroup({0x80, 0x01, 1, 'a', 0x02, 0x7F, 0xFF, 0xFF, 0xFF, 'x'});
  EXPECT_EQ(result.code, 0);
  ASSERT_EQ(result.entries.size(), 1u);
  EXPECT_EQ(result.entries[0]->entryOffset(), 9u);
  EXPECT_EQ(result.entries[0]->entrySize(), 0x7FFFFFFFu);
}

}  // namespace
}  // namespace vornik
