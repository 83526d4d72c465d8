#include "common/ground_truth.h"

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace vornik {
namespace {

std::string tempPath(const std::string& name) {
  return std::string(VORNIK_BINARY_DIR) + "/toolkit_test_" + name;
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::trunc) << text;
}

std::vector<GroundTruthRow> sampleRows() {
  std::vector<GroundTruthRow> rows(3);
  for (int r = 0; r < 3; ++r) {
    rows[r].frameIndex = r * 7;
    rows[r].fileName = "frame_0000" + std::to_string(r) + ".jpg";
    for (int i = 0; i < 16; ++i) rows[r].truth.cameraFromTarget[i] = (i - 5.0 * r) / 3.0;
    for (int i = 0; i < 8; ++i) rows[r].truth.corners[i] = -1e-7 + 123.456789012345 * i + r;
    rows[r].truth.fullyInView = r != 1;
  }
  return rows;
}

TEST(GroundTruth, HeaderNamesEveryColumn) {
  EXPECT_EQ(groundTruthHeader(),
            "frame,file,p00,p01,p02,p03,p10,p11,p12,p13,p20,p21,p22,p23,p30,p31,p32,p33,"
            "x0,y0,x1,y1,x2,y2,x3,y3,in_view");
}

TEST(GroundTruth, WriteThenReadGivesTheSameRows) {
  const std::string path = tempPath("roundtrip.csv");
  const std::vector<GroundTruthRow> rows = sampleRows();
  std::string error;
  ASSERT_TRUE(writeGroundTruth(path, rows, &error)) << error;
  std::vector<GroundTruthRow> back;
  ASSERT_TRUE(readGroundTruth(path, &back, &error)) << error;
  ASSERT_EQ(back.size(), rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    EXPECT_EQ(back[r].frameIndex, rows[r].frameIndex);
    EXPECT_EQ(back[r].fileName, rows[r].fileName);
    EXPECT_EQ(back[r].truth.cameraFromTarget, rows[r].truth.cameraFromTarget);
    EXPECT_EQ(back[r].truth.corners, rows[r].truth.corners);
    EXPECT_EQ(back[r].truth.fullyInView, rows[r].truth.fullyInView);
  }
  // Empty sequences round-trip too.
  ASSERT_TRUE(writeGroundTruth(path, {}, &error));
  ASSERT_TRUE(readGroundTruth(path, &back, &error));
  EXPECT_TRUE(back.empty());
  std::remove(path.c_str());
}

TEST(GroundTruth, MalformedFilesFailWithTheLine) {
  const std::string path = tempPath("bad.csv");
  const std::string header = groundTruthHeader() + "\n";
  const std::string good = "0,f.jpg,1,0,0,0,0,-1,0,0,0,0,-1,2,0,0,0,1,1,2,3,4,5,6,7,8,1\n";
  std::vector<GroundTruthRow> rows;
  std::string error;

  writeText(path, header + good + "1,f.jpg,1,0\n");
  EXPECT_FALSE(readGroundTruth(path, &rows, &error));
  EXPECT_NE(error.find(":3:"), std::string::npos) << error;

  writeText(path, header + "0,f.jpg,1,0,0,0,0,-1,0,0,0,0,-1,2x,0,0,0,1,1,2,3,4,5,6,7,8,1\n");
  EXPECT_FALSE(readGroundTruth(path, &rows, &error));
  EXPECT_NE(error.find("2x"), std::string::npos) << error;

  writeText(path, header + "0,f.jpg,1,0,0,0,0,-1,0,0,0,0,-1,2,0,0,0,1,1,2,3,4,5,6,7,8,2\n");
  EXPECT_FALSE(readGroundTruth(path, &rows, &error));
  writeText(path, header + "-1,f.jpg,1,0,0,0,0,-1,0,0,0,0,-1,2,0,0,0,1,1,2,3,4,5,6,7,8,1\n");
  EXPECT_FALSE(readGroundTruth(path, &rows, &error));

  writeText(path, "frame,file\n" + good);
  EXPECT_FALSE(readGroundTruth(path, &rows, &error));
  writeText(path, "");
  EXPECT_FALSE(readGroundTruth(path, &rows, &error));
  EXPECT_FALSE(readGroundTruth(tempPath("missing.csv"), &rows, &error));
  EXPECT_NE(error.find("missing.csv"), std::string::npos);

  // Windows line ends are accepted.
  writeText(path, groundTruthHeader() + "\r\n" + good.substr(0, good.size() - 1) + "\r\n");
  ASSERT_TRUE(readGroundTruth(path, &rows, &error)) << error;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].truth.cameraFromTarget[11], 2.0);
  EXPECT_EQ(rows[0].truth.corners[7], 8.0);
  std::remove(path.c_str());
}

TEST(GroundTruth, NamesThatWouldBreakTheColumnsAreRefused) {
  std::vector<GroundTruthRow> rows = sampleRows();
  rows[1].fileName = "a,b.jpg";
  std::string error;
  EXPECT_FALSE(writeGroundTruth(tempPath("refused.csv"), rows, &error));
  EXPECT_NE(error.find("a,b.jpg"), std::string::npos);
  EXPECT_FALSE(writeGroundTruth("/nonexistent-folder/x.csv", sampleRows(), &error));
}

}  // namespace
}  // namespace vornik
