#include "builder/database_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "database/group_file_writer.h"

namespace vornik {
namespace {

TargetReport figures(int tracking, double spread, int keys, double repetition, double contrast) {
  TargetReport r;
  r.trackingFeatures = tracking;
  r.spread = spread;
  r.recognitionKeys = keys;
  r.repetition = repetition;
  r.contrast = contrast;
  rateTarget(&r);
  return r;
}

TEST(RateTarget, RewardsManyWellSpreadFeaturesAndWarnsAboutWeakTargets) {
  const TargetReport strong = figures(600, 0.9, 400, 0.02, 60);
  EXPECT_EQ(strong.rating, 5);
  EXPECT_TRUE(strong.warnings.empty());

  EXPECT_EQ(figures(300, 0.9, 400, 0.02, 60).rating, 4);
  EXPECT_EQ(figures(300, 0.6, 200, 0.02, 60).rating, 2);

  const TargetReport repetitive = figures(600, 0.9, 400, 0.4, 60);
  EXPECT_EQ(repetitive.rating, 4);
  ASSERT_EQ(repetitive.warnings.size(), 1u);
  EXPECT_EQ(repetitive.warnings[0], "repetitive texture");

  const TargetReport flat = figures(600, 0.9, 400, 0.02, 12);
  EXPECT_EQ(flat.rating, 4);
  ASSERT_EQ(flat.warnings.size(), 1u);
  EXPECT_EQ(flat.warnings[0], "low contrast");

  const TargetReport crowded = figures(150, 0.3, 150, 0.0, 60);
  EXPECT_EQ(crowded.rating, 0);
  ASSERT_EQ(crowded.warnings.size(), 1u);
  EXPECT_EQ(crowded.warnings[0], "features crowd into a small part of the image");

  const TargetReport empty = figures(40, 0.9, 400, 0.0, 60);
  EXPECT_EQ(empty.rating, 0);  // too few to track at all
  EXPECT_EQ(empty.warnings[0], "too few features");
}

std::string writeTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = std::string(VORNIK_BINARY_DIR) + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

TEST(InspectDatabase, ReportsMissingAndBrokenEntries) {
  GroupFileWriter writer;
  std::vector<uint8_t> dat;
  ASSERT_TRUE(encodeDescriptorEntry(0.25f, {}, dat));
  ASSERT_TRUE(writer.addEntry("lonely.dat", dat));
  ASSERT_TRUE(writer.addEntry("lonely.json", std::string("{\"trackablename\":\"Lonely\"}")));
  ASSERT_TRUE(writer.addEntry("broken.trk", std::vector<uint8_t>{0x28, 0x01}));  // header cut short
  const std::string path = writeTemp("report_test.db", writer.bytes());

  std::vector<TargetReport> reports;
  std::string error;
  ASSERT_TRUE(inspectDatabase(path, &reports, &error)) << error;
  ASSERT_EQ(reports.size(), 2u);
  const TargetReport& lonely = reports[0];
  EXPECT_EQ(lonely.targetName, "lonely");
  EXPECT_EQ(lonely.displayName, "Lonely");  // the key matches without regard to case
  EXPECT_FLOAT_EQ(lonely.physicalWidth, 0.25f);
  EXPECT_EQ(lonely.datBytes, 4);
  EXPECT_EQ(lonely.trkBytes, -1);
  EXPECT_EQ(lonely.rating, 0);
  ASSERT_EQ(lonely.problems.size(), 2u);
  EXPECT_EQ(lonely.problems[0], "no tracking entry (.trk)");
  EXPECT_EQ(lonely.problems[1], "no image entry (.jpg)");
  EXPECT_EQ(reports[1].problems[0], "broken.trk is malformed");

  const std::string junk = writeTemp("report_junk.db", {0x42, 0x42});
  EXPECT_FALSE(inspectDatabase(junk, &reports, &error));
  EXPECT_NE(error.find("not a valid group file"), std::string::npos);
  EXPECT_FALSE(inspectDatabase(junk + ".missing", &reports, &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace vornik
