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
#include "features/gradient_descriptor.h"
#include "manager/profiler.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

// Cells of the six extremes that make up a key.
struct KeyCells {
  int m0, n0, m2, n2, m1, m3;
  int32_t key() const { return m0 << 20 | n0 << 16 | m2 << 12 | n2 << 8 | m1 << 4 | m3; }
};

// Stored descriptor bytes whose key names exactly these cells.
std::array<uint8_t, kDescriptorBytes> storedBytes(const KeyCells& c) {
  std::array<uint8_t, kDescriptorBytes> d{};
  for (int k = 0; k < 16; ++k) {
    d[4 * k + 0] = 100;
    d[4 * k + 1] = 50;
    d[4 * k + 2] = 100;
    d[4 * k + 3] = 50;
  }
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
  for (int k = 0; k < 16; ++k) {
    f->descriptorValues[4 * k + 1] = 300.0f;
    f->descriptorValues[4 * k + 3] = 300.0f;
  }
  f->descriptorValues[4 * c.m0 + 0] = 900.0f;
  f->descriptorValues[4 * c.n0 + 0] = -900.0f;
  f->descriptorValues[4 * c.m2 + 2] = 700.0f;
  f->descriptorValues[4 * c.n2 + 2] = -700.0f;
  f->descriptorValues[4 * c.m1 + 1] = 1000.0f;
  f->descriptorValues[4 * c.m3 + 3] = 800.0f;
  return f;
}

// Distinct keys: cells vary with i (0 .. 15).
KeyCells cellsFor(int i) {
  return KeyCells{i % 16, (i + 1) % 16, (i + 2) % 16, (i + 5) % 16, (i + 7) % 16, (i + 3) % 16};
}

struct StoredFeature {
  KeyCells cells;
  uint8_t polarity;
};

class RecognizerVotes : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(VORNIK_BINARY_DIR) / "recognition_test_tmp" / info->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }

  void addTarget(const std::string& name, const std::vector<StoredFeature>& stored) {
    std::vector<HessianGradientFeaturePtr> features;
    int x = 20;
    for (const StoredFeature& s : stored) {
      auto f = std::make_shared<HessianGradientFeature>();
      f->polarity = s.polarity;
      f->x = x++;
      f->y = 30;
      f->descriptor = storedBytes(s.cells);
      features.push_back(f);
    }
    std::vector<uint8_t> entry;
    ASSERT_TRUE(encodeDescriptorEntry(1.0f, features, entry));
    ASSERT_TRUE(writer_.addEntry(name + ".dat", entry));
  }

  // Loads the targets added so far as one group file.
  std::shared_ptr<ArdbMngr> load() {
    EXPECT_TRUE(writer_.writeFile((dir_ / "votes.db").string()));
    auto database = std::make_shared<ArdbMngr>();
    database->setArdbAssetDirPath(dir_.string());
    ::testing::internal::CaptureStdout();
    database->loadTrackerData((dir_ / "app").string(), {"votes.db"});
    ::testing::internal::GetCapturedStdout();
    return database;
  }

  // Frame features repeating `cells` `count` times.
  static void addCamera(HessianGradientFeatureMngr* mngr, const KeyCells& cells, int count,
                        uint8_t polarity = 1, int level = 0) {
    for (int i = 0; i < count; ++i) mngr->addFeature(level, cameraFeature(cells, polarity));
  }

  fs::path dir_;
  GroupFileWriter writer_;
};

TEST(RecognizerKeys, TestDescriptorsGiveTheirIntendedKeysOnBothSides) {
  for (int i = 0; i < 16; ++i) {
    const KeyCells c = cellsFor(i);
    EXPECT_EQ(descriptorKey(storedBytes(c).data()), c.key());
    HessianGradientFeaturePtr f = cameraFeature(c, 1);
    GradientDescriptor::quantizeDescriptor(f.get());
    EXPECT_EQ(descriptorKey(f->descriptor.data()), c.key());
  }
}

TEST_F(RecognizerVotes, FourVotesAreNotEnoughFiveAre) {
  std::vector<StoredFeature> stored;
  for (int i = 0; i < 6; ++i) stored.push_back({cellsFor(i), 1});
  addTarget("alpha", stored);
  Recognizer recognizer;
  recognizer.init(load());

  HessianGradientFeatureMngr four(3);
  for (int i = 0; i < 4; ++i) addCamera(&four, cellsFor(i), 1, 1, i % 2);
  addCamera(&four, cellsFor(9), 3);  // keys nobody stored
  std::string winner = "untouched";
  EXPECT_EQ(recognizer.matchFeatures(four, winner), kNotRecognized);
  EXPECT_EQ(winner, "untouched");

  HessianGradientFeatureMngr five(3);
  for (int i = 0; i < 5; ++i) addCamera(&five, cellsFor(i), 1, 1, i % 2);
  EXPECT_EQ(recognizer.matchFeatures(five, winner), kRecognized);
  EXPECT_EQ(winner, "alpha");
  // Matching keyed every feature.
  EXPECT_EQ(five.levelFeatures(1)[0]->descriptorKey, cellsFor(1).key());
}

TEST_F(RecognizerVotes, EveryFrameFeatureVotesOnceForEachTargetListedUnderItsKey) {
  // alpha stores the key three times; the table lists it once.
  addTarget("alpha", {{cellsFor(0), 1}, {cellsFor(0), 1}, {cellsFor(0), 1}});
  addTarget("beta", {{cellsFor(0), 1}, {cellsFor(1), 1}});
  Recognizer recognizer;
  recognizer.init(load());

  std::string winner;
  HessianGradientFeatureMngr three(2);
  addCamera(&three, cellsFor(0), 3);
  addCamera(&three, cellsFor(1), 1);
  // alpha 3, beta 4: neither more than 4.
  EXPECT_EQ(recognizer.matchFeatures(three, winner), kNotRecognized);

  HessianGradientFeatureMngr more(2);
  addCamera(&more, cellsFor(0), 4);
  addCamera(&more, cellsFor(1), 1);
  // alpha 4, beta 5.
  EXPECT_EQ(recognizer.matchFeatures(more, winner), kRecognized);
  EXPECT_EQ(winner, "beta");
}

TEST_F(RecognizerVotes, PolarityChoosesTheTable) {
  addTarget("dark", {{cellsFor(0), 1}});
  addTarget("light", {{cellsFor(0), 0}});
  Recognizer recognizer;
  recognizer.init(load());

  std::string winner;
  HessianGradientFeatureMngr positive(2);
  addCamera(&positive, cellsFor(0), 5, 1);
  addCamera(&positive, cellsFor(0), 4, 0);
  EXPECT_EQ(recognizer.matchFeatures(positive, winner), kRecognized);
  EXPECT_EQ(winner, "dark");

  HessianGradientFeatureMngr negative(2);
  addCamera(&negative, cellsFor(0), 4, 1);
  addCamera(&negative, cellsFor(0), 6, 0);
  EXPECT_EQ(recognizer.matchFeatures(negative, winner), kRecognized);
  EXPECT_EQ(winner, "light");
}

TEST_F(RecognizerVotes, EqualVotesGoToTheByteWiseFirstName) {
  // Byte-wise: "Zeta" < "alpha" < "z" < "\xC3\xA9t\xC3\xA9" (0xC3 above every ASCII byte).
  addTarget("z", {{cellsFor(0), 1}});
  addTarget("\xC3\xA9t\xC3\xA9", {{cellsFor(0), 1}});
  addTarget("alpha", {{cellsFor(1), 1}});
  addTarget("Zeta", {{cellsFor(1), 1}});
  Recognizer recognizer;
  recognizer.init(load());

  std::string winner;
  HessianGradientFeatureMngr sevenEach(2);
  addCamera(&sevenEach, cellsFor(0), 7);
  EXPECT_EQ(recognizer.matchFeatures(sevenEach, winner), kRecognized);
  EXPECT_EQ(winner, "z");

  HessianGradientFeatureMngr four(2);
  addCamera(&four, cellsFor(1), 7);
  addCamera(&four, cellsFor(0), 7);
  EXPECT_EQ(recognizer.matchFeatures(four, winner), kRecognized);
  EXPECT_EQ(winner, "Zeta");

  // One more vote beats the order.
  HessianGradientFeatureMngr ahead(2);
  addCamera(&ahead, cellsFor(1), 7);
  addCamera(&ahead, cellsFor(0), 8);
  EXPECT_EQ(recognizer.matchFeatures(ahead, winner), kRecognized);
  EXPECT_EQ(winner, "z");
}

TEST_F(RecognizerVotes, EmptyTablesAndEmptyFramesGiveTen) {
  addTarget("nothing", {});
  Recognizer recognizer;
  auto database = load();
  recognizer.init(database);
  ASSERT_EQ(database->getNegativeTable()->keyCount() + database->getPositiveTable()->keyCount(),
            0u);

  std::string winner = "kept";
  HessianGradientFeatureMngr many(2);
  addCamera(&many, cellsFor(0), 50);
  EXPECT_EQ(recognizer.matchFeatures(many, winner), kNotRecognized);
  HessianGradientFeatureMngr none(0);
  EXPECT_EQ(recognizer.matchFeatures(none, winner), kNotRecognized);
  EXPECT_EQ(winner, "kept");

  // A busy synthetic frame: plenty of corners, no votes.
  std::vector<uint8_t> frame(640 * 480 * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i * 7919u) >> 3);
  std::string result = "earlier";
  EXPECT_EQ(recognizer.recognize(640, 480, 0, frame.data(), result, ""), kNotRecognized);
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
  HessianGradientFeatureMngr features(2);
  EXPECT_EQ(recognizer.matchFeatures(features, winner), kNotRecognized);
  EXPECT_EQ(winner, "none");
}

TEST(Recognizer, NullPixelsAndEmptySizesAreNotRecognised) {
  Recognizer recognizer;
  recognizer.init(std::make_shared<ArdbMngr>());
  std::string result = "before";
  std::vector<uint8_t> frame(16, 0);
  EXPECT_EQ(recognizer.recognize(640, 480, 0, nullptr, result, ""), kNotRecognized);
  EXPECT_EQ(recognizer.recognize(0, 480, 0, frame.data(), result, ""), kNotRecognized);
  EXPECT_EQ(recognizer.recognize(4, -1, 1, frame.data(), result, ""), kNotRecognized);
  EXPECT_EQ(result, "before");
}

}  // namespace
}  // namespace vornik
