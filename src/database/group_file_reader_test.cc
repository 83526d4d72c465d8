#include "database/group_file_reader.h"

#include <gtest/gtest.h>

#include "database/ardb_mngr.h"
#include "database/database_test_util.h"

namespace vornik {
namespace {

// Each entry read as "name@offset+size".
TEST(GroupFileReader, StructureDecidesTheResultAndTheEntriesKept) {
  const struct {
    std::vector<uint8_t> bytes;
    int32_t code;
    std::vector<std::string> entries;
    const char* printed;
  } cases[] = {
      {{}, 0, {}, ""},
      {{0x80}, 0, {}, ""},  // a record left open at the end
      {{0x80, 0x80}, 7, {}, ""},
      {{0xC0}, 7, {}, ""},
      {{0x01, 0x01, 'a'}, 7, {}, ""},
      {{0x02, 0, 0, 0, 0}, 7, {}, ""},
      {{0x80, 0xC0, 0xC0}, 7, {}, ""},
      {{0x80, 0x03}, 7, {}, "Unknown field id\n"},
      {{0x80, 0x01, 0x01, 'a', 0x02, 0, 0, 0, 1, 'x', 0xC0, 0xFF},
       7,
       {"a@9+1"},
       "Unknown field id\n"},
      {{0x80, 0x01}, 7, {}, ""},
      {{0x80, 0x01, 3, 'a', 'b'}, 7, {}, ""},
      {{0x80, 0x01, 1, 'a', 0x02, 0, 0}, 7, {}, ""},  // size cut short
      // Data before any name field has an empty name.
      {{0x80, 0x02, 0, 0, 0, 1, 'q', 0xC0}, 0, {"@6+1"}, ""},
      // A size running past the end is recorded and ends the directory.
      {{0x80, 0x01, 1, 'a', 0x02, 0x7F, 0xFF, 0xFF, 0xFF, 'x'}, 0, {"a@9+2147483647"}, ""},
      // Record 1: two data fields; record 2 has no name field and reuses "a.dat";
      // the entries before a later fault stay.
      {{0x80, 0x01, 5, 'a', '.', 'd',  'a',  't',  0x02, 0, 0, 0, 2,    'x',  'y', 0x02,
        0,    0,    0, 1,   'z', 0xC0, 0x80, 0x02, 0,    0, 0, 0, 0xC0, 0x80, 0x80},
       7,
       {"a.dat@13+2", "a.dat@20+1", "a.dat@28+0"},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    const std::string dir = testutil::freshTestDir();
    testutil::writeBytes(dir + "/g.db", c.bytes);
    ArdbMngr mngr;
    mngr.setArdbAssetDirPath(dir);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(mngr.loadGroupFile("g.db"), c.code);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.printed);
    std::vector<std::string> entries;
    for (const FileInfoPtr& info : mngr.fileInfos()) {
      entries.push_back(info->entryName() + "@" + std::to_string(info->entryOffset()) + "+" +
                        std::to_string(info->entrySize()));
    }
    EXPECT_EQ(entries, c.entries);
  }
}

}  // namespace
}  // namespace vornik
