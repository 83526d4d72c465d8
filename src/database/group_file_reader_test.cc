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

TEST(GroupFileReader, AcceptsEmptyFileAndUnclosedRecord) {
  EXPECT_EQ(readGroup({}).code, 0);
  ReadResult open = readGroup({0x80});
  EXPECT_EQ(open.code, 0);
  EXPECT_TRUE(open.entries.empty());
}

TEST(GroupFileReader, RejectsMisplacedFields) {
  EXPECT_EQ(readGroup({0x80, 0x80}).code, 7);
  EXPECT_EQ(readGroup({0xC0}).code, 7);
  EXPECT_EQ(readGroup({0x01, 0x01, 'a'}).code, 7);
  EXPECT_EQ(readGroup({0x02, 0, 0, 0, 0}).code, 7);
  EXPECT_EQ(readGroup({0x80, 0xC0, 0xC0}).code, 7);
}

TEST(GroupFileReader, UnknownFieldIdIsPrintedAndRejected) {
  ReadResult result = readGroup({0x80, 0x03});
  EXPECT_EQ(result.code, 7);
  EXPECT_EQ(result.printed, "Unknown field id\n");
  EXPECT_EQ(readGroup({0x80, 0x01, 0x01, 'a', 0x02, 0, 0, 0, 1, 'x', 0xC0, 0xFF}).printed,
            "Unknown field id\n");
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

TEST(GroupFileReader, CutShortFieldsAreMalformed) {
  EXPECT_EQ(readGroup({0x80, 0x01}).code, 7);
  EXPECT_EQ(readGroup({0x80, 0x01, 3, 'a', 'b'}).code, 7);
  ReadResult size = readGroup({0x80, 0x01, 1, 'a', 0x02, 0, 0});
  EXPECT_EQ(size.code, 7);
  EXPECT_TRUE(size.entries.empty());
}

TEST(GroupFileReader, SizeRunningPastTheEndIsRecordedAndEndsTheDirectory) {
  ReadResult result = readGroup({0x80, 0x01, 1, 'a', 0x02, 0x7F, 0xFF, 0xFF, 0xFF, 'x'});
  EXPECT_EQ(result.code, 0);
  ASSERT_EQ(result.entries.size(), 1u);
  EXPECT_EQ(result.entries[0]->entryOffset(), 9u);
  EXPECT_EQ(result.entries[0]->entrySize(), 0x7FFFFFFFu);
}

TEST(GroupFileReader, MissingFileGives6) {
  ArdbMngr mngr;
  mngr.setArdbAssetDirPath(testutil::freshTestDir());
  EXPECT_EQ(mngr.loadGroupFile("absent.db"), 6);
}

}  // namespace
}  // namespace vornik
