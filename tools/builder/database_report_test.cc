#include "builder/database_report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "database/group_file_writer.h"

namespace vornik {
namespace {

TEST(RateTarget, RewardsManyWellSpreadFeaturesAndWarnsAboutWeakTargets) {
  struct Case {
    int tracking;
    double spread;
    int keys;
    double repetition, contrast;
    int rating;
    const char* warning;  // the only one, or none
  };
  const Case cases[] = {
      {600, 0.9, 400, 0.02, 60, 5, nullptr},
      {300, 0.9, 400, 0.02, 60, 4, nullptr},
      {300, 0.6, 200, 0.02, 60, 2, nullptr},
      {600, 0.9, 400, 0.4, 60, 4, "repetitive texture"},
      {600, 0.9, 400, 0.02, 12, 4, "low contrast"},
      {150, 0.3, 150, 0.0, 60, 0, "features crowd into a small part of the image"},
      {40, 0.9, 400, 0.0, 60, 0, "too few features"},
  };
  for (const Case& c : cases) {
    TargetReport r;
    r.trackingFeatures = c.tracking;
    r.spread = c.spread;
    r.recognitionKeys = c.keys;
    r.repetition = c.repetition;
    r.contrast = c.contrast;
    rateTarget(&r);
    EXPECT_EQ(r.rating, c.rating) << c.tracking << " " << c.spread << " " << c.contrast;
    EXPECT_EQ(r.warnings,
              c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{});
  }
}

std::string writeTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = std::string(VORNIK_BINARY_DIR) + "/" + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
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
  EXPECT_EQ(lonely.problems,
            (std::vector<std::string>{"no tracking entry (.trk)", "no image entry (.jpg)"}));
  EXPECT_EQ(reports[1].problems[0], "broken.trk is malformed");

  // Without a single recognition key no view can be judged.
  FreshViewJudge judge(path);
  EXPECT_EQ(judge.judge("lonely", 2).problem, "the database has no recognition keys");

  const std::string junk = writeTemp("report_junk.db", {0x42, 0x42});
  EXPECT_FALSE(inspectDatabase(junk, &reports, &error));
  EXPECT_NE(error.find("not a valid group file"), std::string::npos);
  EXPECT_FALSE(inspectDatabase(junk + ".missing", &reports, &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace vornik
