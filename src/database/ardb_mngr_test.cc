#include "database/ardb_mngr.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "database/database_test_util.h"
#include "database/directory.h"
#include "database/group_file_writer.h"
#include "database/jpeg_writer.h"
#include "features/descriptor_key.h"
#include "platform/file_system.h"

namespace vornik {
namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// loadTrackerData with its timing line on stdout captured; returns that output.
std::string load(ArdbMngr& mngr, const std::string& appDir,
                 const std::vector<std::string>& groups) {
  ::testing::internal::CaptureStdout();
  mngr.loadTrackerData(appDir, groups);
  return ::testing::internal::GetCapturedStdout();
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
      {ArdbMngr::headerTemplate() + "/tmp/cache\"}", 0, "/tmp/cache/"},
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
    const int32_t code = mngr.initialize(c.header);
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

TEST(ArdbMngrLoad, NoGroupsCreatesCacheButWritesNoTables) {
  const std::string dir = testutil::freshTestDir();
  ArdbMngr mngr;
  mngr.setArdbAssetDirPath(dir);
  LogCapture log;
  const std::string printed = load(mngr, dir + "/app", {});
  EXPECT_TRUE(directoryExists(dir + "/app/IdxTable"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/app/IdxTable/negative.tbl"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/app/IdxTable/positive.tbl"));
  EXPECT_EQ(mngr.path(), dir + "/app/IdxTable/");
  const std::vector<std::string> lines = log.snapshot();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "ardbCacheCreatePath : " + dir + "/app/IdxTable");
  EXPECT_TRUE(startsWith(lines[1], "\n Read mapping table time : ")) << lines[1];
  EXPECT_TRUE(startsWith(lines[2], "\n Make mapping table time : ")) << lines[2];
  EXPECT_EQ(lines[3], "loadTrackerData Completed");
  EXPECT_TRUE(startsWith(printed, "Make mapping table time:")) << printed;
  EXPECT_EQ(printed.back(), '\n');
  EXPECT_EQ(mngr.getNegativeTable()->keyCount(), 0u);
  EXPECT_EQ(mngr.getPositiveTable()->keyCount(), 0u);
}

// A small synthetic target written with the entry encoders.
struct Target {
  std::string name;
  float headerValue;
  std::vector<HessianGradientFeaturePtr> descriptors;
  std::vector<FeaturePtr> tracking;
  std::vector<uint8_t> jpeg;
  std::string json;
};

Target makeTarget(const std::string& name, int seed, int count) {
  Target t{name, 0.5f + static_cast<float>(seed),       {}, {},
           {},   "{\"TrackableName\":\"" + name + "\"}"};
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

// The negative and positive tables built the slow way from the first `count`
// descriptors of each target.
std::vector<std::vector<uint8_t>> referenceTables(
    const std::vector<std::pair<const Target*, size_t>>& owners) {
  MappingTable tables[2];
  for (const auto& [target, count] : owners) {
    for (size_t i = 0; i < count; ++i) {
      const HessianGradientFeaturePtr& f = target->descriptors[i];
      tables[f->polarity ? 1 : 0].add(descriptorKey(f->descriptor.data()), target->name);
    }
  }
  return {tables[0].serialize(), tables[1].serialize()};
}

class ArdbMngrDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    // A name outside every ANSI code page: the group files, the cache and
    // its tables go through UTF-8 paths.
    dir_ = testutil::freshTestDir() + "/\xc3\xa9t\xc3\xa9_\xe6\x97\xa5";
    ASSERT_TRUE(createDirectory(dir_));
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
  load(mngr_, dir_ + "/app", {"one.db", "two.DB"});
  ASSERT_EQ(log.snapshot().size(), 5u);
  EXPECT_TRUE(startsWith(log.snapshot()[3], "\n Save mapping table time : "));
  EXPECT_EQ(mngr_.path(), dir_ + "/app/IdxTable_one/");
  const auto expected =
      referenceTables({{&targets_[0], 40}, {&targets_[1], 55}, {&targets_[2], 30}});
  EXPECT_EQ(mngr_.getNegativeTable()->serialize(), expected[0]);
  EXPECT_EQ(mngr_.getPositiveTable()->serialize(), expected[1]);
  EXPECT_EQ(testutil::readBytes(mngr_.path() + "negative.tbl"), expected[0]);
  EXPECT_EQ(testutil::readBytes(mngr_.path() + "positive.tbl"), expected[1]);
  EXPECT_GT(mngr_.getNegativeTable()->keyCount(), 10u);
  ASSERT_EQ(mngr_.headerValues().size(), 3u);
  EXPECT_EQ(mngr_.headerValues().at("beta"), 2.5f);
  EXPECT_EQ(mngr_.fileInfos().size(), 13u);
  EXPECT_EQ(mngr_.groupFileOf().at("gamma"), dir_ + "/two.DB");
}

TEST_F(ArdbMngrDatabase, ReloadSkipsAMissingGroupAndKeepsOldHoldersValid) {
  load(mngr_, dir_ + "/app", {"one.db", "two.DB"});
  MappingTablePtr oldPositive = mngr_.getPositiveTable();
  const std::vector<uint8_t> oldBytes = oldPositive->serialize();
  LogCapture log;
  load(mngr_, dir_ + "/app", {"absent.db", "two.DB"});
  EXPECT_EQ(log.count("absent.db is not valid group file!!\n"), 1);
  EXPECT_EQ(oldPositive->serialize(), oldBytes);
  EXPECT_LT(mngr_.getPositiveTable()->pairCount(), oldPositive->pairCount());
  EXPECT_EQ(mngr_.path(), dir_ + "/app/IdxTable_absent/");
  // alpha keeps its header value and still counts as a descriptor target, but
  // no group file is known for it any more.
  EXPECT_EQ(mngr_.headerValues().count("alpha"), 1u);
  std::vector<FeaturePtr> features;
  int32_t width = 0;
  int32_t height = 0;
  EXPECT_EQ(mngr_.loadTargetFeatures(features, width, height, "alpha"), 6);
  EXPECT_EQ(mngr_.loadTargetFeatures(features, width, height, "gamma"), 0);
  EXPECT_EQ(mngr_.loadGroupFile("absent.db"), 6);
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
  EXPECT_EQ(std::vector<int32_t>({width, height}), std::vector<int32_t>({320, 200}));
  ASSERT_EQ(features.size(), 55u);
  EXPECT_EQ(features[7]->x, targets_[1].tracking[7]->x);
  EXPECT_EQ(features[7]->y, targets_[1].tracking[7]->y);

  uint8_t* pixels = nullptr;
  int32_t grey = -1;
  ASSERT_EQ(mngr_.loadTargetImage(pixels, width, height, grey, "gamma"), 0);
  std::unique_ptr<uint8_t[]> owned(pixels);
  EXPECT_EQ(std::vector<int32_t>({width, height, grey}), std::vector<int32_t>({16, 8, 1}));
  char* info = nullptr;
  ASSERT_EQ(mngr_.loadTargetInfo(info, "alpha"), 0);
  EXPECT_EQ(std::string(std::unique_ptr<char[]>(info).get()), targets_[0].json);

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
    const bool descriptorCut = c.extension == ".dat";
    std::vector<uint8_t> whole = descriptorCut           ? dat
                                 : c.extension == ".trk" ? trk
                                 : c.extension == ".jpg"
                                     ? t.jpeg
                                     : std::vector<uint8_t>(t.json.begin(), t.json.end());
    GroupFileWriter writer;
    addTarget(writer, good);
    if (!descriptorCut) {
      ASSERT_TRUE(writer.addEntry("t.dat", dat));
    }
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
    load(mngr, dir, {"g.db"});
    EXPECT_EQ(log.count("Fail to read descriptor: t.dat\n"), descriptorCut ? 1 : 0);
    EXPECT_EQ(mngr.headerValues().count("t"), descriptorCut ? 0u : 1u);
    EXPECT_EQ(mngr.headerValues().count("good"), 1u);
    const auto expected = referenceTables({{&good, 2}, {&t, descriptorCut ? c.kept : 3}});
    EXPECT_EQ(mngr.getNegativeTable()->serialize(), expected[0]);
    EXPECT_EQ(mngr.getPositiveTable()->serialize(), expected[1]);

    // The records read back re-encode to the stored bytes of the complete records.
    std::vector<uint8_t> again;
    int32_t size[3] = {-1, -1, 0};
    if (descriptorCut) {
      std::vector<HessianGradientFeaturePtr> descriptors;
      float header = 0.0f;
      EXPECT_EQ(mngr.readDescriptor(descriptors, header, "t"), 7);
      EXPECT_EQ(header, c.cut >= 4 ? 1.5f : 0.0f);
      ASSERT_TRUE(encodeDescriptorEntry(1.5f, descriptors, again));
      EXPECT_EQ(again, std::vector<uint8_t>(dat.begin(), dat.begin() + 4 + 68 * c.kept));
    } else if (c.extension == ".trk") {
      std::vector<FeaturePtr> features;
      EXPECT_EQ(mngr.loadTargetFeatures(features, size[0], size[1], "t"), 7);
      EXPECT_EQ(size[0], c.cut >= 3 ? 320 : -1);
      ASSERT_TRUE(encodeTrackingEntry(320, 200, features, again));
      EXPECT_EQ(again, std::vector<uint8_t>(trk.begin(), trk.begin() + 3 + 69 * c.kept));
    } else if (c.extension == ".jpg") {
      uint8_t* pixels = nullptr;
      EXPECT_EQ(mngr.loadTargetImage(pixels, size[0], size[1], size[2], "t"), 7);
      EXPECT_EQ(pixels, nullptr);
    } else {
      char* info = nullptr;
      EXPECT_EQ(mngr.loadTargetInfo(info, "t"), 7);
      EXPECT_EQ(info, nullptr);
    }
  }
}

TEST(ArdbMngrFaults, DuplicateTargetIsReportedAndReadFromTheFileItOpens) {
  const std::string dir = testutil::freshTestDir();
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
  const std::vector<std::string> lines = log.snapshot();
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& part : {std::string("dup"), dir + "/first.db", dir + "/second.db"}) {
    EXPECT_NE(lines[0].find(part), std::string::npos) << part;
  }
  EXPECT_NE(lines[1].find("pad"), std::string::npos);

  char* info = nullptr;
  ASSERT_EQ(mngr.loadTargetInfo(info, "dup"), 0);
  EXPECT_EQ(std::string(std::unique_ptr<char[]>(info).get()), "{\"TrackableName\":\"second\"}");
  std::vector<HessianGradientFeaturePtr> out;
  float header = 0.0f;
  ASSERT_EQ(mngr.readDescriptor(out, header, "dup"), 0);
  EXPECT_EQ(header, 2.0f);
  // "pad" has no descriptor entry anywhere, so no group file is known for it.
  uint8_t* pixels = nullptr;
  int32_t size[3] = {};
  EXPECT_EQ(mngr.loadTargetImage(pixels, size[0], size[1], size[2], "pad"), 6);
}

TEST(ArdbMngrFaults, InformationBufferIsAlwaysTerminated) {
  const std::string dir = testutil::freshTestDir();
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
  for (const auto& [target, text] :
       {std::pair<std::string, std::string>{"t", "{\"a\":1}"}, {"e", ""}}) {
    char* info = nullptr;
    ASSERT_EQ(mngr.loadTargetInfo(info, target), 0);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(std::string(std::unique_ptr<char[]>(info).get()), text);
  }
}

}  // namespace
}  // namespace vornik
