#include "database/ardb_mngr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "database/database_test_util.h"
#include "database/directory.h"
#include "database/group_file_writer.h"
#include "database/jpeg_writer.h"
#include "features/descriptor_key.h"

namespace vornik {
namespace {

using testutil::LogCapture;

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string validHeader(const std::string& path) {
  return ArdbMngr::headerTemplate() + path + "\"}";
}

TEST(ArdbMngrHeader, InitializeChecksServerAndTypeAndStoresPath) {
  const std::string type = kTypeIdentifier;
  const std::string rest = "\",\"path\":\"x\"}";
  // code -1: any non-zero code; the stored path is then left as it was.
  const struct {
    std::string header;
    int32_t code;
    std::string path;
  } cases[] = {
      {validHeader("/tmp/cache"), 0, "/tmp/cache/"},
      {"{\"server\":\"remote\",\"type\":\"" + type + rest, 1, "/tmp/cache/"},
      {"{\"server\":\"localhost\",\"type\":\"other" + rest, 2, "/tmp/cache/"},
      // Extra spaces around ":" are tolerated by the scan.
      {"{\"server\" : \"localhost\", \"type\":\"" + type + "\",\"path\": \"/p\"}", 0, "/p/"},
      {"{\"type\":\"" + type + rest, -1, "/p/"},
      {"{\"server\":\"localhost\",\"path\":\"x\"}", -1, "/p/"},
      {"{\"server\":\"localhost\",\"type\":\"" + type + "\"}", -1, "/p/"},
      {"{\"server\":\"localhost\",\"type\":\"" + type + "\",\"path\":\"x", -1, "/p/"},
      {"{\"server\":\"localhost\",\"type\":\"" + type + "\",\"path\":x}", -1, "/p/"},
      {"{\"server\":localhost}", -1, "/p/"},
      {"", -1, "/p/"},
  };
  ArdbMngr mngr;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    int32_t code = mngr.initialize(c.header);
    if (c.code < 0) {
      EXPECT_NE(code, 0);
    } else {
      EXPECT_EQ(code, c.code);
    }
    EXPECT_EQ(mngr.path(), c.path);
  }
}

TEST(ArdbMngrCache, CacheNameRule) {
  EXPECT_EQ(ArdbMngr::cacheName({"shop.db", "museum.db", "extra.bin"}), "IdxTable_shop_museum");
  EXPECT_EQ(ArdbMngr::cacheName({"a.db", "b.DB"}), "IdxTable_a");
  EXPECT_EQ(ArdbMngr::cacheName({".db"}), "IdxTable");
  EXPECT_EQ(ArdbMngr::cacheName({"noext", "x.y.db", "sub/g.db"}), "IdxTable_x.y_sub/g");
  EXPECT_EQ(ArdbMngr::cacheName({}), "IdxTable");
}

TEST(ArdbMngrCache, MakeDirectoriesCreatesMissingParents) {
  std::string dir = testutil::freshTestDir();
  makeDirectories(dir + "/a/b/c");
  EXPECT_TRUE(directoryExists(dir + "/a/b/c"));
  makeDirectories(dir + "/a/b/c");  // existing: fine
  EXPECT_TRUE(directoryExists(dir + "/a/b/c"));
  EXPECT_FALSE(directoryExists(dir + "/a/b/c/d"));
}

TEST(ArdbMngrLoad, NoGroupsCreatesCacheButWritesNoTables) {
  std::string dir = testutil::freshTestDir();
  ArdbMngr mngr;
  mngr.setArdbAssetDirPath(dir);
  LogCapture log;
  ::testing::internal::CaptureStdout();
  mngr.loadTrackerData(dir + "/app", {});
  std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(directoryExists(dir + "/app/IdxTable"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/app/IdxTable/negative.tbl"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/app/IdxTable/positive.tbl"));
  EXPECT_EQ(mngr.path(), dir + "/app/IdxTable/");
  const std::vector<std::string>& lines = log.captured();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "ardbCacheCreatePath : " + dir + "/app/IdxTable");
  EXPECT_TRUE(startsWith(lines[1], "\n Read mapping table time : ")) << lines[1];
  EXPECT_TRUE(startsWith(lines[2], "\n Make mapping table time : ")) << lines[2];
  EXPECT_EQ(lines[3], "loadTrackerData Completed");
  EXPECT_TRUE(startsWith(printed, "Make mapping table time:")) << printed;
  EXPECT_EQ(printed.back(), '\n');
  ASSERT_NE(mngr.getNegativeTable(), nullptr);
  ASSERT_NE(mngr.getPositiveTable(), nullptr);
  EXPECT_EQ(mngr.getNegativeTable()->keyCount(), 0u);
}

// A small synthetic database built with the group-file writer.
struct Target {
  std::string name;
  float headerValue;
  std::vector<HessianGradientFeaturePtr> descriptors;
  std::vector<FeaturePtr> tracking;
  std::vector<uint8_t> jpeg;
  std::string json;
};

Target makeTarget(const std::string& name, int seed, int count) {
  Target t;
  t.name = name;
  t.headerValue = 0.5f + static_cast<float>(seed);
  uint32_t state = static_cast<uint32_t>(seed) * 2654435761u + 1u;
  auto next = [&state]() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (int i = 0; i < count; ++i) {
    auto f = std::make_shared<HessianGradientFeature>();
    f->level = static_cast<int32_t>(next() % 20);
    f->polarity = static_cast<uint8_t>(next() & 1);
    f->x = static_cast<int32_t>(next() % 4096);
    f->y = static_cast<int32_t>(next() % 4096);
    for (uint8_t& b : f->descriptor) b = static_cast<uint8_t>(next());
    t.descriptors.push_back(f);
    auto g = std::make_shared<Feature>();
    g->x = static_cast<int32_t>(next() % 600) - 300;
    g->y = static_cast<int32_t>(next() % 400) - 200;
    g->layer = static_cast<int32_t>(next() % 8);
    g->polarity = static_cast<uint8_t>(next() & 1);
    g->descriptor.reset(new uint8_t[64]);
    for (int k = 0; k < 64; ++k) g->descriptor[k] = static_cast<uint8_t>(next());
    t.tracking.push_back(g);
  }
  std::vector<uint8_t> grey(16 * 8);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(seed * 40 + i);
  EXPECT_TRUE(encodeJpeg(grey.data(), 16, 8, 1, 90, t.jpeg));
  t.json = "{\"TrackableName\":\"" + name + " display\"}";
  return t;
}

void addTarget(GroupFileWriter& writer, const Target& t) {
  std::vector<uint8_t> dat;
  std::vector<uint8_t> trk;
  ASSERT_TRUE(encodeDescriptorEntry(t.headerValue, t.descriptors, dat));
  ASSERT_TRUE(encodeTrackingEntry(320, 200, t.tracking, trk));
  ASSERT_TRUE(writer.addEntry(t.name + ".dat", dat));
  ASSERT_TRUE(writer.addEntry(t.name + ".trk", trk));
  ASSERT_TRUE(writer.addEntry(t.name + ".jpg", t.jpeg));
  ASSERT_TRUE(writer.addEntry(t.name + ".json", t.json));
}

class ArdbMngrDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testutil::freshTestDir();
    targets_ = {makeTarget("alpha", 1, 40), makeTarget("beta", 2, 55), makeTarget("gamma", 3, 30)};
    GroupFileWriter one;
    addTarget(one, targets_[0]);
    addTarget(one, targets_[1]);
    ASSERT_TRUE(one.writeFile(dir_ + "/one.db"));
    GroupFileWriter two;
    addTarget(two, targets_[2]);
    ASSERT_TRUE(two.addEntry("lonely.jpg", targets_[2].jpeg));
    ASSERT_TRUE(two.writeFile(dir_ + "/two.DB"));
    mngr_.setArdbAssetDirPath(dir_);
  }

  std::string dir_;
  std::vector<Target> targets_;
  ArdbMngr mngr_;
};

TEST_F(ArdbMngrDatabase, LoadIndexesEveryStoredFeatureAndSavesBothTables) {
  LogCapture log;
  ::testing::internal::CaptureStdout();
  mngr_.loadTrackerData(dir_ + "/app", {"one.db", "two.DB"});
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(log.captured().size(), 5u);
  EXPECT_TRUE(startsWith(log.captured()[3], "\n Save mapping table time : "));
  EXPECT_EQ(mngr_.path(), dir_ + "/app/IdxTable_one/");

  // Reference tables built the slow way from the features themselves.
  MappingTable negative;
  MappingTable positive;
  for (const Target& t : targets_) {
    for (const HessianGradientFeaturePtr& f : t.descriptors) {
      (f->polarity ? positive : negative).add(descriptorKey(f->descriptor.data()), t.name);
    }
  }
  EXPECT_EQ(mngr_.getNegativeTable()->serialize(), negative.serialize());
  EXPECT_EQ(mngr_.getPositiveTable()->serialize(), positive.serialize());
  EXPECT_EQ(testutil::readBytes(mngr_.path() + "negative.tbl"), negative.serialize());
  EXPECT_EQ(testutil::readBytes(mngr_.path() + "positive.tbl"), positive.serialize());
  EXPECT_GT(negative.keyCount(), 10u);

  ASSERT_EQ(mngr_.headerValues().size(), 3u);
  EXPECT_EQ(mngr_.headerValues().at("beta"), 2.5f);
  EXPECT_EQ(mngr_.fileInfos().size(), 13u);
  EXPECT_EQ(mngr_.groupFileOf().at("gamma"), dir_ + "/two.DB");
}

TEST_F(ArdbMngrDatabase, ReloadReplacesTablesAndKeepsOldHoldersValid) {
  ::testing::internal::CaptureStdout();
  mngr_.loadTrackerData(dir_ + "/app", {"one.db", "two.DB"});
  MappingTablePtr oldPositive = mngr_.getPositiveTable();
  std::vector<uint8_t> oldBytes = oldPositive->serialize();
  mngr_.loadTrackerData(dir_ + "/app", {"two.DB"});
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(oldPositive->serialize(), oldBytes);
  EXPECT_LT(mngr_.getPositiveTable()->pairCount(), oldPositive->pairCount());
  // The cache name no longer carries "one"; the old values stay.
  EXPECT_EQ(mngr_.path(), dir_ + "/app/IdxTable/");
  EXPECT_EQ(mngr_.headerValues().count("alpha"), 1u);
  // alpha still counts as a descriptor target, but no group file is known for it.
  std::vector<FeaturePtr> features;
  int32_t width = 0;
  int32_t height = 0;
  EXPECT_EQ(mngr_.loadTargetFeatures(features, width, height, "alpha"), 6);
  EXPECT_EQ(mngr_.loadTargetFeatures(features, width, height, "gamma"), 0);
}

TEST_F(ArdbMngrDatabase, PerTargetLookups) {
  mngr_.loadGroupFiles({"one.db", "two.DB"});
  std::vector<HessianGradientFeaturePtr> all;
  EXPECT_EQ(mngr_.readDescriptors(all), 0);
  ASSERT_EQ(all.size(), 125u);
  EXPECT_EQ(all[40]->name, "beta");
  EXPECT_EQ(all[40]->x, targets_[1].descriptors[0]->x);
  EXPECT_EQ(all[124]->descriptor, targets_[2].descriptors[29]->descriptor);
  EXPECT_EQ(all[124]->descriptorKey, descriptorKey(targets_[2].descriptors[29]->descriptor.data()));

  std::vector<FeaturePtr> features;
  int32_t width = 0;
  int32_t height = 0;
  ASSERT_EQ(mngr_.loadTargetFeatures(features, width, height, "beta"), 0);
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 200);
  ASSERT_EQ(features.size(), 55u);
  EXPECT_EQ(features[7]->x, targets_[1].tracking[7]->x);
  EXPECT_EQ(features[7]->y, targets_[1].tracking[7]->y);

  uint8_t* pixels = nullptr;
  int32_t grey = -1;
  ASSERT_EQ(mngr_.loadTargetImage(pixels, width, height, grey, "gamma"), 0);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(std::vector<int32_t>({width, height, grey}), std::vector<int32_t>({16, 8, 1}));
  delete[] pixels;

  char* info = nullptr;
  ASSERT_EQ(mngr_.loadTargetInfo(info, "alpha"), 0);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info, targets_[0].json.c_str());
  delete[] info;

  // Unknown targets; "lonely" has an image entry, but no descriptor entry names its group.
  float header = 0.0f;
  pixels = nullptr;
  info = nullptr;
  EXPECT_EQ(mngr_.loadTargetFeatures(features, width, height, "nobody"), 3);
  EXPECT_EQ(mngr_.readDescriptor(all, header, "nobody"), 3);
  EXPECT_EQ(mngr_.loadTargetInfo(info, "nobody"), 6);
  EXPECT_EQ(mngr_.loadTargetImage(pixels, width, height, grey, "nobody"), 6);
  EXPECT_EQ(mngr_.loadTargetImage(pixels, width, height, grey, "lonely"), 6);
  EXPECT_EQ(pixels, nullptr);
  EXPECT_EQ(info, nullptr);
}

TEST_F(ArdbMngrDatabase, MissingGroupIsLoggedAndOthersStillLoad) {
  LogCapture log;
  ::testing::internal::CaptureStdout();
  mngr_.loadTrackerData(dir_ + "/app", {"absent.db", "two.DB"});
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(log.contains("absent.db is not valid group file!!\n"));
  EXPECT_EQ(mngr_.loadGroupFile("absent.db"), 6);
  EXPECT_EQ(mngr_.headerValues().count("gamma"), 1u);
  EXPECT_EQ(mngr_.path(), dir_ + "/app/IdxTable_absent/");
}

TEST(ArdbMngrFaults, CutEntryKeepsItsCompleteRecordsAndReadsAs7) {
  const std::string dir = testutil::freshTestDir();
  const Target good = makeTarget("good", 5, 2);
  const Target t = makeTarget("t", 4, 3);
  std::vector<uint8_t> dat;
  std::vector<uint8_t> trk;
  ASSERT_TRUE(encodeDescriptorEntry(1.5f, t.descriptors, dat));
  ASSERT_TRUE(encodeTrackingEntry(320, 200, t.tracking, trk));
  // The last entry of "t" ends `cut` bytes into its data: at the end of the
  // group file, or (byFileEnd false) at its own stored size, more entries following.
  const struct {
    std::string extension;
    size_t cut;
    bool byFileEnd;
    size_t kept;
  } cases[] = {
      {".dat", 2, true, 0},
      {".dat", 4, true, 0},
      {".dat", 4 + 68 + 30, true, 1},
      {".dat", 4 + 2 * 68, true, 2},
      {".dat", 4 + 68 + 30, false, 1},
      {".trk", 1, true, 0},
      {".trk", 3 + 69, true, 1},
      {".trk", 3 + 69 + 68, true, 1},
      {".jpg", 20, true, 0},
      {".json", 5, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension + " cut at " + std::to_string(c.cut) +
                 (c.byFileEnd ? " by file end" : ""));
    std::vector<uint8_t> whole = c.extension == ".dat"   ? dat
                                 : c.extension == ".trk" ? trk
                                 : c.extension == ".jpg"
                                     ? t.jpeg
                                     : std::vector<uint8_t>(t.json.begin(), t.json.end());
    GroupFileWriter writer;
    addTarget(writer, good);
    if (c.extension != ".dat") ASSERT_TRUE(writer.addEntry("t.dat", dat));
    if (c.byFileEnd) {
      ASSERT_TRUE(writer.addEntry("t" + c.extension, whole));
    } else {
      ASSERT_TRUE(writer.addEntry("t" + c.extension,
                                  std::vector<uint8_t>(whole.begin(), whole.begin() + c.cut)));
      ASSERT_TRUE(writer.addEntry("z.json", std::string("{}")));
    }
    std::vector<uint8_t> file = writer.bytes();
    // Drops the rest of the data and the record end.
    if (c.byFileEnd) file.resize(file.size() - 1 - whole.size() + c.cut);
    testutil::writeBytes(dir + "/g.db", file);

    ArdbMngr mngr;
    mngr.setArdbAssetDirPath(dir);
    LogCapture log;
    ::testing::internal::CaptureStdout();
    mngr.loadTrackerData(dir, {"g.db"});
    ::testing::internal::GetCapturedStdout();
    const bool descriptorCut = c.extension == ".dat";
    EXPECT_EQ(log.contains("Fail to read descriptor: t.dat\n"), descriptorCut);
    EXPECT_EQ(mngr.headerValues().count("t"), descriptorCut ? 0u : 1u);
    EXPECT_EQ(mngr.headerValues().count("good"), 1u);
    MappingTable negative;
    MappingTable positive;
    for (const Target* owner : {&good, &t}) {
      size_t n = owner == &t && descriptorCut ? c.kept : owner->descriptors.size();
      for (size_t i = 0; i < n; ++i) {
        const HessianGradientFeaturePtr& f = owner->descriptors[i];
        (f->polarity ? positive : negative).add(descriptorKey(f->descriptor.data()), owner->name);
      }
    }
    EXPECT_EQ(mngr.getNegativeTable()->serialize(), negative.serialize());
    EXPECT_EQ(mngr.getPositiveTable()->serialize(), positive.serialize());

    // The records read back re-encode to the stored bytes of the complete records.
    std::vector<HessianGradientFeaturePtr> descriptors;
    std::vector<FeaturePtr> features;
    std::vector<uint8_t> again;
    float header = 0.0f;
    int32_t width = -1;
    int32_t height = -1;
    int32_t grey = 0;
    uint8_t* pixels = nullptr;
    char* info = nullptr;
    if (c.extension == ".dat") {
      EXPECT_EQ(mngr.readDescriptor(descriptors, header, "t"), 7);
      EXPECT_EQ(header, c.cut >= 4 ? 1.5f : 0.0f);
      ASSERT_EQ(descriptors.size(), c.kept);
      ASSERT_TRUE(encodeDescriptorEntry(1.5f, descriptors, again));
      EXPECT_EQ(again, std::vector<uint8_t>(dat.begin(), dat.begin() + 4 + 68 * c.kept));
    } else if (c.extension == ".trk") {
      EXPECT_EQ(mngr.loadTargetFeatures(features, width, height, "t"), 7);
      EXPECT_EQ(width, c.cut >= 3 ? 320 : -1);
      ASSERT_EQ(features.size(), c.kept);
      ASSERT_TRUE(encodeTrackingEntry(320, 200, features, again));
      EXPECT_EQ(again, std::vector<uint8_t>(trk.begin(), trk.begin() + 3 + 69 * c.kept));
    } else if (c.extension == ".jpg") {
      EXPECT_EQ(mngr.loadTargetImage(pixels, width, height, grey, "t"), 7);
    } else {
      EXPECT_EQ(mngr.loadTargetInfo(info, "t"), 7);
    }
    EXPECT_EQ(pixels, nullptr);
    EXPECT_EQ(info, nullptr);
  }
}

TEST(ArdbMngrFaults, DuplicateTargetIsReportedAndReadFromTheFileItOpens) {
  std::string dir = testutil::freshTestDir();
  GroupFileWriter first;
  ASSERT_TRUE(first.addEntry("pad.bin", std::vector<uint8_t>(500, 0xAB)));
  ASSERT_TRUE(first.addEntry("dup.dat", std::vector<uint8_t>{0, 0, 0x80, 0x3F}));
  ASSERT_TRUE(first.addEntry("dup.json", std::string("{\"TrackableName\":\"first\"}")));
  ASSERT_TRUE(first.writeFile(dir + "/first.db"));
  GroupFileWriter second;
  ASSERT_TRUE(second.addEntry("dup.json", std::string("{\"TrackableName\":\"second\"}")));
  ASSERT_TRUE(second.addEntry("dup.dat", std::vector<uint8_t>{0, 0, 0, 0x40}));
  ASSERT_TRUE(second.addEntry("pad.jpg", std::vector<uint8_t>{0xFF, 0xD8}));
  ASSERT_TRUE(second.writeFile(dir + "/second.db"));

  ArdbMngr mngr;
  mngr.setArdbAssetDirPath(dir);
  LogCapture log;
  mngr.loadGroupFiles({"first.db", "second.db"});
  ASSERT_EQ(log.captured().size(), 2u);
  const std::string& warning = log.captured()[0];
  EXPECT_NE(warning.find("dup"), std::string::npos);
  EXPECT_NE(warning.find(dir + "/first.db"), std::string::npos);
  EXPECT_NE(warning.find(dir + "/second.db"), std::string::npos);
  EXPECT_NE(log.captured()[1].find("pad"), std::string::npos);

  char* info = nullptr;
  ASSERT_EQ(mngr.loadTargetInfo(info, "dup"), 0);
  EXPECT_STREQ(info, "{\"TrackableName\":\"second\"}");
  delete[] info;
  std::vector<HessianGradientFeaturePtr> out;
  float header = 0.0f;
  ASSERT_EQ(mngr.readDescriptor(out, header, "dup"), 0);
  EXPECT_EQ(header, 2.0f);

  // "pad" has no descriptor entry anywhere, so no group file is known for it.
  uint8_t* pixels = nullptr;
  int32_t w = 0;
  int32_t h = 0;
  int32_t g = 0;
  EXPECT_EQ(mngr.loadTargetImage(pixels, w, h, g, "pad"), 6);
}

TEST(ArdbMngrFaults, InformationBufferIsAlwaysTerminated) {
  std::string dir = testutil::freshTestDir();
  GroupFileWriter writer;
  ASSERT_TRUE(writer.addEntry("t.dat", std::vector<uint8_t>{0, 0, 0, 0}));
  ASSERT_TRUE(writer.addEntry("t.json", std::string("{\"a\":1}")));
  ASSERT_TRUE(writer.addEntry("t.json", std::string("{\"b\":2}")));
  ASSERT_TRUE(writer.addEntry("t.json.extra", std::string("zzzz")));
  ASSERT_TRUE(writer.addEntry("e.dat", std::vector<uint8_t>{0, 0, 0, 0}));
  ASSERT_TRUE(writer.addEntry("e.json", std::string()));
  ASSERT_TRUE(writer.writeFile(dir + "/g.db"));
  ArdbMngr mngr;
  mngr.setArdbAssetDirPath(dir);
  ASSERT_EQ(mngr.loadGroupFile("g.db"), 0);
  char* info = nullptr;
  ASSERT_EQ(mngr.loadTargetInfo(info, "t"), 0);
  EXPECT_EQ(std::string(info), "{\"a\":1}");
  delete[] info;
  info = nullptr;
  ASSERT_EQ(mngr.loadTargetInfo(info, "e"), 0);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info[0], '\0');
  delete[] info;
}

}  // namespace
}  // namespace vornik
