#include "recognition/recognizer.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "database/group_file_writer.h"
#include "features/descriptor_key.h"
#include "manager/profiler.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

// Cells of the six extremes that make up a key, varied with i (0 .. 15).
struct KeyCells {
  explicit KeyCells(int i)
      : m0(i % 16),
        n0((i + 1) % 16),
        m2((i + 2) % 16),
        n2((i + 5) % 16),
        m1((i + 7) % 16),
        m3((i + 3) % 16) {}
  int32_t key() const { return m0 << 20 | n0 << 16 | m2 << 12 | n2 << 8 | m1 << 4 | m3; }
  int m0, n0, m2, n2, m1, m3;
};

// Stored descriptor bytes whose key names exactly these cells.
std::array<uint8_t, kDescriptorBytes> storedBytes(const KeyCells& c) {
  std::array<uint8_t, kDescriptorBytes> d{};
  for (int m = 0; m < kDescriptorBytes; ++m) d[m] = m % 2 ? 50 : 100;
  d[4 * c.m0 + 0] = 200;
  d[4 * c.n0 + 0] = 10;
  d[4 * c.m2 + 2] = 200;
  d[4 * c.n2 + 2] = 10;
  d[4 * c.m1 + 1] = 250;
  d[4 * c.m3 + 3] = 250;
  return d;
}

// A camera feature whose unquantised sums quantise to the same key.
HessianGradientFeaturePtr cameraFeature(const KeyCells& c, uint8_t polarity) {
  auto f = std::make_shared<HessianGradientFeature>();
  f->polarity = polarity;
  f->scale = 1.0f;
  for (int m = 0; m < kDescriptorBytes; ++m) f->descriptorValues[m] = m % 2 ? 300.0f : 0.0f;
  f->descriptorValues[4 * c.m0 + 0] = 900.0f;
  f->descriptorValues[4 * c.n0 + 0] = -900.0f;
  f->descriptorValues[4 * c.m2 + 2] = 700.0f;
  f->descriptorValues[4 * c.n2 + 2] = -700.0f;
  f->descriptorValues[4 * c.m1 + 1] = 1000.0f;
  f->descriptorValues[4 * c.m3 + 3] = 800.0f;
  return f;
}

struct Keyed {
  int cells;  // KeyCells index
  int count;
  uint8_t polarity;
};
struct Target {
  std::string name;
  std::vector<Keyed> stored;  // count is ignored: one feature each
};

// Writes the targets as one group file in `dir` and loads it.
std::shared_ptr<ArdbMngr> loadTargets(const fs::path& dir, const std::vector<Target>& targets) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  GroupFileWriter writer;
  for (const Target& t : targets) {
    std::vector<HessianGradientFeaturePtr> features;
    for (const Keyed& s : t.stored) {
      auto f = std::make_shared<HessianGradientFeature>();
      f->polarity = s.polarity;
      f->x = 20 + static_cast<int>(features.size());
      f->y = 30;
      f->descriptor = storedBytes(KeyCells(s.cells));
      features.push_back(f);
    }
    std::vector<uint8_t> entry;
    EXPECT_TRUE(encodeDescriptorEntry(1.0f, features, entry));
    EXPECT_TRUE(writer.addEntry(t.name + ".dat", entry));
  }
  EXPECT_TRUE(writer.writeFile((dir / "votes.db").string()));
  auto database = std::make_shared<ArdbMngr>();
  database->setArdbAssetDirPath(dir.string());
  ::testing::internal::CaptureStdout();
  database->loadTrackerData((dir / "app").string(), {"votes.db"});
  ::testing::internal::GetCapturedStdout();
  return database;
}

fs::path testDir(int index) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return fs::path(VORNIK_BINARY_DIR) / "recognition_test_tmp" /
         (std::string(info->name()) + std::to_string(index));
}

TEST(RecognizerVotes, MoreThanFourVotesPerTableWinAndTiesGoToTheByteWiseFirstName) {
  struct Shown {
    std::vector<Keyed> features;  // alternately on levels 0 and 1
    int32_t status;
    const char* winner;
  };
  struct Case {
    const char* name;
    std::vector<Target> targets;
    std::vector<Shown> frames;
  };
  const Case cases[] = {
      {"four votes are not enough, five are",
       {{"alpha", {{0, 1, 1}, {1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {4, 1, 1}, {5, 1, 1}}}},
       {{{{0, 1, 1}, {1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {9, 3, 1}}, kNotRecognized, nullptr},
        {{{0, 1, 1}, {1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {4, 1, 1}}, kRecognized, "alpha"}}},
      // alpha stores key 0 three times; the table lists it once.
      {"a frame feature votes once for each target listed under its key",
       {{"alpha", {{0, 1, 1}, {0, 1, 1}, {0, 1, 1}}}, {"beta", {{0, 1, 1}, {1, 1, 1}}}},
       {{{{0, 3, 1}, {1, 1, 1}}, kNotRecognized, nullptr},  // alpha 3, beta 4
        {{{0, 4, 1}, {1, 1, 1}}, kRecognized, "beta"}}},    // alpha 4, beta 5
      {"polarity chooses the table",
       {{"dark", {{0, 1, 1}}}, {"light", {{0, 1, 0}}}},
       {{{{0, 5, 1}, {0, 4, 0}}, kRecognized, "dark"},
        {{{0, 4, 1}, {0, 6, 0}}, kRecognized, "light"}}},
      // Byte-wise: "Zeta" < "alpha" < "z" < "\xC3\xA9t\xC3\xA9" (0xC3 above every ASCII byte).
      {"equal votes go to the byte-wise first name",
       {{"z", {{0, 1, 1}}},
        {"\xC3\xA9t\xC3\xA9", {{0, 1, 1}}},
        {"alpha", {{1, 1, 1}}},
        {"Zeta", {{1, 1, 1}}}},
       {{{{0, 7, 1}}, kRecognized, "z"},
        {{{1, 7, 1}, {0, 7, 1}}, kRecognized, "Zeta"},
        {{{1, 7, 1}, {0, 8, 1}}, kRecognized, "z"}}},  // one more vote beats the order
      {"a target without features", {{"nothing", {}}}, {{{{0, 50, 1}}, kNotRecognized, nullptr}}},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recognizer recognizer;
    recognizer.init(loadTargets(testDir(index++), c.targets));
    for (const Shown& frame : c.frames) {
      HessianGradientFeatureMngr features(3);
      int n = 0;
      for (const Keyed& k : frame.features) {
        for (int i = 0; i < k.count; ++i)
          features.addFeature(n++ % 2, cameraFeature(KeyCells(k.cells), k.polarity));
      }
      std::string winner = "untouched";
      EXPECT_EQ(recognizer.matchFeatures(features, winner), frame.status);
      EXPECT_EQ(winner, frame.winner ? frame.winner : "untouched");
      // Matching keyed every feature, on both levels.
      n = 0;
      for (const Keyed& k : frame.features) {
        for (int i = 0; i < k.count; ++i, ++n) {
          EXPECT_EQ(features.levelFeatures(n % 2)[n / 2]->descriptorKey, KeyCells(k.cells).key());
        }
      }
    }
  }
}

TEST(Recognizer, EmptyTablesEmptyFramesAndBadInputAreNotRecognised) {
  Recognizer recognizer;
  auto database = loadTargets(testDir(0), {{"nothing", {}}});
  recognizer.init(database);
  ASSERT_EQ(database->getNegativeTable()->keyCount() + database->getPositiveTable()->keyCount(),
            0u);
  std::string winner = "kept";
  EXPECT_EQ(recognizer.matchFeatures(HessianGradientFeatureMngr(0), winner), kNotRecognized);
  EXPECT_EQ(winner, "kept");

  // A busy synthetic frame: plenty of corners, no votes.
  std::vector<uint8_t> frame(640 * 480 * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i * 7919u) >> 3);
  std::string result = "earlier";
  EXPECT_EQ(recognizer.recognize(640, 480, 0, frame.data(), result, ""), kNotRecognized);
  EXPECT_EQ(recognizer.recognize(640, 480, 0, nullptr, result, ""), kNotRecognized);
  EXPECT_EQ(recognizer.recognize(0, 480, 0, frame.data(), result, ""), kNotRecognized);
  EXPECT_EQ(recognizer.recognize(4, -1, 1, frame.data(), result, ""), kNotRecognized);
  EXPECT_EQ(result, "earlier");
}

TEST(Recognizer, WithoutDatabaseAnswersFiveAndTouchesNothing) {
  clearTimers();
  Recognizer recognizer;
  std::vector<uint8_t> frame(320 * 240, 128);
  std::string result = "before";
  EXPECT_EQ(recognizer.recognize(320, 240, 1, frame.data(), result, "hint"), kRecognizerNoDatabase);
  EXPECT_EQ(result, "before");
  EXPECT_EQ(timerRecords().count(kTimerRecognitionOptTotal), 0u);
  EXPECT_EQ(timerRecords().count(kTimerRecognitionOptPyramid), 0u);
  std::string winner = "none";
  EXPECT_EQ(recognizer.matchFeatures(HessianGradientFeatureMngr(2), winner), kNotRecognized);
  EXPECT_EQ(winner, "none");
}

}  // namespace
}  // namespace vornik
