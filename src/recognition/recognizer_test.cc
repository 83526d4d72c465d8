#include "recognition/recognizer.h"

#include <gtest/gtest.h>

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

// Cells of the six extremes a key names (M0 N0 M2 N2 M1 M3), varied with i.
constexpr int kCellOffsets[6] = {0, 1, 2, 5, 7, 3};

int32_t keyOf(int i) {
  int32_t key = 0;
  for (int offset : kCellOffsets) key = key << 4 | (i + offset) % 16;
  return key;
}

// A camera feature whose unquantised sums quantise to keyOf(i).
HessianGradientFeaturePtr cameraFeature(int i, uint8_t polarity) {
  const int components[6] = {0, 0, 2, 2, 1, 3};
  const float values[6] = {900.0f, -900.0f, 700.0f, -700.0f, 1000.0f, 800.0f};
  auto f = std::make_shared<HessianGradientFeature>();
  f->polarity = polarity;
  f->scale = 1.0f;
  for (int m = 0; m < kDescriptorBytes; ++m) f->descriptorValues[m] = m % 2 ? 300.0f : 0.0f;
  for (int e = 0; e < 6; ++e)
    f->descriptorValues[4 * ((i + kCellOffsets[e]) % 16) + components[e]] = values[e];
  return f;
}

struct Keyed {
  int cells;  // keyOf index
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
      auto f = cameraFeature(s.cells, s.polarity);
      GradientDescriptor::quantizeDescriptor(f.get());
      f->x = 20 + static_cast<int>(features.size());
      f->y = 30;
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
  using Candidates = std::vector<std::pair<std::string, int32_t>>;
  struct Shown {
    std::vector<Keyed> features;  // alternately on levels 0 and 1
    int32_t status;
    const char* winner;
    // With two runners-up kept: the winner's order, 3 votes at least.
    Candidates candidates;
  };
  struct Case {
    const char* name;
    std::vector<Target> targets;
    std::vector<Shown> frames;
  };
  const char* const ete = "\xC3\xA9t\xC3\xA9";
  const Case cases[] = {
      {"four votes are not enough, five are",
       {{"alpha", {{0, 1, 1}, {1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {4, 1, 1}, {5, 1, 1}}}},
       {{{{0, 1, 1}, {1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {9, 3, 1}},
         kNotRecognized,
         nullptr,
         {{"alpha", 4}}},
        {{{0, 1, 1}, {1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {4, 1, 1}},
         kRecognized,
         "alpha",
         {{"alpha", 5}}}}},
      // alpha stores key 0 three times; the table lists it once.
      {"a frame feature votes once for each target listed under its key",
       {{"alpha", {{0, 1, 1}, {0, 1, 1}, {0, 1, 1}}}, {"beta", {{0, 1, 1}, {1, 1, 1}}}},
       {{{{0, 3, 1}, {1, 1, 1}}, kNotRecognized, nullptr, {{"beta", 4}, {"alpha", 3}}},
        {{{0, 4, 1}, {1, 1, 1}}, kRecognized, "beta", {{"beta", 5}, {"alpha", 4}}},
        {{{0, 2, 1}}, kNotRecognized, nullptr, {}}}},  // two votes make no candidate
      {"polarity chooses the table",
       {{"dark", {{0, 1, 1}}}, {"light", {{0, 1, 0}}}},
       {{{{0, 5, 1}, {0, 4, 0}}, kRecognized, "dark", {{"dark", 5}, {"light", 4}}},
        {{{0, 4, 1}, {0, 6, 0}}, kRecognized, "light", {{"light", 6}, {"dark", 4}}}}},
      // Byte-wise: "Zeta" < "alpha" < "z" < "\xC3\xA9t\xC3\xA9" (0xC3 above every ASCII byte).
      {"equal votes go to the byte-wise first name",
       {{"z", {{0, 1, 1}}}, {ete, {{0, 1, 1}}}, {"alpha", {{1, 1, 1}}}, {"Zeta", {{1, 1, 1}}}},
       {{{{0, 7, 1}}, kRecognized, "z", {{"z", 7}, {ete, 7}}},
        {{{1, 7, 1}, {0, 7, 1}}, kRecognized, "Zeta", {{"Zeta", 7}, {"alpha", 7}, {"z", 7}}},
        // one more vote beats the order
        {{{1, 7, 1}, {0, 8, 1}}, kRecognized, "z", {{"z", 8}, {ete, 8}, {"Zeta", 7}}}}},
      {"a target without features",
       {{"nothing", {}}},
       {{{{0, 50, 1}}, kNotRecognized, nullptr, {}}}},
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
          features.addFeature(n++ % 2, cameraFeature(k.cells, k.polarity));
      }
      for (const int32_t runnersUp : {0, 2}) {
        RecognitionOptions options;
        options.poseCandidates = runnersUp;
        recognizer.setOptions(options);
        // Candidates change nothing of the vote.
        std::string winner = "untouched";
        EXPECT_EQ(recognizer.matchFeatures(features, winner), frame.status);
        EXPECT_EQ(winner, frame.winner ? frame.winner : "untouched");
        Candidates kept;
        for (const RecognitionCandidate& candidate : recognizer.candidates()) {
          kept.emplace_back(candidate.name, candidate.votes);
        }
        EXPECT_EQ(kept, runnersUp > 0 ? frame.candidates : Candidates()) << runnersUp;
      }
      // Matching keyed every feature, on both levels.
      n = 0;
      for (const Keyed& k : frame.features) {
        for (int i = 0; i < k.count; ++i, ++n) {
          EXPECT_EQ(features.levelFeatures(n % 2)[n / 2]->descriptorKey, keyOf(k.cells));
        }
      }
    }
  }
}

TEST(RecognizerVotes, CandidatesNeedTheirVotesClamped) {
  using Candidates = std::vector<std::pair<std::string, int32_t>>;
  Recognizer recognizer;
  recognizer.init(loadTargets(testDir(0), {{"alpha", {{0, 1, 1}}}, {"beta", {{1, 1, 1}}}}));
  HessianGradientFeatureMngr features(1);
  for (int i = 0; i < 2; ++i) features.addFeature(0, cameraFeature(0, 1));
  for (int i = 0; i < 3; ++i) features.addFeature(0, cameraFeature(1, 1));
  const struct {
    int32_t votes;
    Candidates candidates;
  } cases[] = {
      {3, {{"beta", 3}}},
      {2, {{"beta", 3}, {"alpha", 2}}},
      {1, {{"beta", 3}, {"alpha", 2}}},  // clamped to 2: one vote is any stray
      {9, {}},                           // clamped to 4
  };
  for (const auto& c : cases) {
    RecognitionOptions options;
    options.poseCandidates = 2;
    options.candidateMinVotes = c.votes;
    recognizer.setOptions(options);
    std::string winner;
    EXPECT_EQ(recognizer.matchFeatures(features, winner), kNotRecognized) << c.votes;
    Candidates kept;
    for (const RecognitionCandidate& candidate : recognizer.candidates()) {
      kept.emplace_back(candidate.name, candidate.votes);
    }
    EXPECT_EQ(kept, c.candidates) << c.votes;
  }
}

// cameraFeature(i) as a slightly different view gives it: its M1 cell
// moved one over, the old one 3 byte steps below the new maximum.
HessianGradientFeaturePtr shiftedFeature(int i) {
  HessianGradientFeaturePtr f = cameraFeature(i, 1);
  const int cell = (i + kCellOffsets[4]) % 16;
  f->descriptorValues[4 * ((cell + 1) % 16) + 1] = 1000.0f;
  f->descriptorValues[4 * cell + 1] = 990.0f;
  return f;
}

TEST(RecognizerVotes, NearKeysVoteOncePerTargetAndFeatureWithinTheirSteps) {
  struct Case {
    const char* name;
    bool storeShifted;  // the target also stores the shifted features' own keys
    int32_t steps;
    int32_t status;
    int32_t votes;
  };
  // The old cell comes first, so it takes the field back on a tie: in 3
  // steps.
  const Case cases[] = {
      {"off: the shifted keys are not stored", false, 0, kNotRecognized, 0},
      {"fewer steps than the shift", false, 2, kNotRecognized, 0},
      {"enough steps", false, 3, kRecognized, 5},
      {"more steps", false, 64, kRecognized, 5},
      {"own key and near key name the target: one vote", true, 3, kRecognized, 5},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Target alpha{"alpha", {}};
    for (int i = 0; i < 5; ++i) alpha.stored.push_back({i, 1, 1});
    Recognizer recognizer;
    std::shared_ptr<ArdbMngr> database;
    if (c.storeShifted) {
      const fs::path dir = testDir(index++);
      fs::remove_all(dir);
      fs::create_directories(dir);
      std::vector<HessianGradientFeaturePtr> features;
      for (int i = 0; i < 5; ++i) {
        for (HessianGradientFeaturePtr f : {cameraFeature(i, 1), shiftedFeature(i)}) {
          GradientDescriptor::quantizeDescriptor(f.get());
          features.push_back(f);
        }
      }
      std::vector<uint8_t> entry;
      ASSERT_TRUE(encodeDescriptorEntry(1.0f, features, entry));
      GroupFileWriter writer;
      ASSERT_TRUE(writer.addEntry("alpha.dat", entry));
      ASSERT_TRUE(writer.writeFile((dir / "votes.db").string()));
      database = std::make_shared<ArdbMngr>();
      database->setArdbAssetDirPath(dir.string());
      ::testing::internal::CaptureStdout();
      database->loadTrackerData((dir / "app").string(), {"votes.db"});
      ::testing::internal::GetCapturedStdout();
    } else {
      database = loadTargets(testDir(index++), {alpha});
    }
    recognizer.init(database);
    HessianGradientFeatureMngr features(2);
    for (int i = 0; i < 5; ++i) features.addFeature(i % 2, shiftedFeature(i));
    RecognitionOptions options;
    options.nearKeySteps = c.steps;
    options.poseCandidates = 1;
    options.voteDiscPercent = 0;
    recognizer.setOptions(options);
    std::string winner;
    EXPECT_EQ(recognizer.matchFeatures(features, winner), c.status);
    const std::vector<RecognitionCandidate>& kept = recognizer.candidates();
    EXPECT_EQ(kept.empty() ? 0 : kept[0].votes, c.votes);
    // Counted within a disc, each feature still votes once.
    recognizer.matchFeatures(features, winner, 1000.0f);
    EXPECT_EQ(kept.empty() ? 0 : kept[0].votes, c.votes);
  }
}

TEST(Recognizer, NoDatabaseEmptyTablesEmptyFramesAndBadInputAreNotRecognised) {
  clearTimers();
  Recognizer recognizer;
  std::vector<uint8_t> frame(640 * 480 * 3, 128);
  std::string result = "earlier";
  EXPECT_EQ(recognizer.recognize(320, 240, 1, frame.data(), result, "hint"), kRecognizerNoDatabase);
  EXPECT_EQ(timerRecords().count(kTimerRecognitionOptTotal), 0u);
  EXPECT_EQ(timerRecords().count(kTimerRecognitionOptPyramid), 0u);
  std::string winner = "kept";
  EXPECT_EQ(recognizer.matchFeatures(HessianGradientFeatureMngr(2), winner), kNotRecognized);

  auto database = loadTargets(testDir(0), {{"nothing", {}}});
  recognizer.init(database);
  ASSERT_EQ(database->getNegativeTable()->keyCount() + database->getPositiveTable()->keyCount(),
            0u);
  EXPECT_EQ(recognizer.matchFeatures(HessianGradientFeatureMngr(0), winner), kNotRecognized);
  EXPECT_EQ(winner, "kept");
  // A busy synthetic frame: plenty of corners, no votes.
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i * 7919u) >> 3);
  EXPECT_EQ(recognizer.recognize(640, 480, 0, frame.data(), result, ""), kNotRecognized);
  EXPECT_EQ(recognizer.recognize(640, 480, 0, nullptr, result, ""), kNotRecognized);
  EXPECT_EQ(recognizer.recognize(0, 480, 0, frame.data(), result, ""), kNotRecognized);
  EXPECT_EQ(recognizer.recognize(4, -1, 1, frame.data(), result, ""), kNotRecognized);
  EXPECT_EQ(result, "earlier");
}

}  // namespace
}  // namespace vornik
