#include "common/ground_truth.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace vornik {
namespace {

std::string tempPath(const std::string& name) {
  return std::string(VORNIK_BINARY_DIR) + "/toolkit_test_" + name;
}

// Writing and reading back exact values is checked end to end with the
// vornik-synth program.

TEST(GroundTruth, MalformedFilesFailWithTheLine) {
  const std::string path = tempPath("bad.csv");
  const std::string header = groundTruthHeader() + "\n";
  const std::string good = "0,f.jpg,1,0,0,0,0,-1,0,0,0,0,-1,2,0,0,0,1,1,2,3,4,5,6,7,8,1\n";
  // File text, a part of the error.
  const std::pair<std::string, std::string> cases[] = {
      {header + good + "1,f.jpg,1,0\n", ":3:"},
      {header + "0,f.jpg,1,0,0,0,0,-1,0,0,0,0,-1,2x,0,0,0,1,1,2,3,4,5,6,7,8,1\n", "2x"},
      {header + "0,f.jpg,1,0,0,0,0,-1,0,0,0,0,-1,2,0,0,0,1,1,2,3,4,5,6,7,8,2\n", "in_view"},
      {header + "-1,f.jpg,1,0,0,0,0,-1,0,0,0,0,-1,2,0,0,0,1,1,2,3,4,5,6,7,8,1\n", "'-1'"},
      {"frame,file\n" + good, ":1:"},
      {"", "empty file"}};
  std::vector<GroundTruthRow> rows;
  std::string error;
  for (const auto& [text, reason] : cases) {
    std::ofstream(path, std::ios::trunc) << text;
    EXPECT_FALSE(readGroundTruth(path, &rows, &error)) << text;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
  EXPECT_FALSE(readGroundTruth(tempPath("missing.csv"), &rows, &error));
  EXPECT_NE(error.find("missing.csv"), std::string::npos);

  // Windows line ends are accepted.
  std::ofstream(path, std::ios::trunc)
      << groundTruthHeader() + "\r\n" + good.substr(0, good.size() - 1) + "\r\n";
  ASSERT_TRUE(readGroundTruth(path, &rows, &error)) << error;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].truth.cameraFromTarget[11], 2.0);
  EXPECT_EQ(rows[0].truth.corners[7], 8.0);
  std::remove(path.c_str());
}

TEST(GroundTruth, NamesThatWouldBreakTheColumnsAreRefused) {
  std::vector<GroundTruthRow> rows(2);
  rows[1].fileName = "a,b.jpg";
  std::string error;
  EXPECT_FALSE(writeGroundTruth(tempPath("refused.csv"), rows, &error));
  EXPECT_NE(error.find("a,b.jpg"), std::string::npos);
  rows.pop_back();
  EXPECT_FALSE(writeGroundTruth("/nonexistent-folder/x.csv", rows, &error));
  EXPECT_NE(error.find("/nonexistent-folder/x.csv"), std::string::npos);
}

}  // namespace
}  // namespace vornik
