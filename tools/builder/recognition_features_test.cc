#include "builder/recognition_features.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <tuple>

#include "builder/image_resample.h"
#include "builder/recognition_training.h"
#include "features/corner_detection.h"
#include "features/descriptor_key.h"
#include "features/frame.h"

namespace vornik {
namespace {

Image sampleGrey640() {
  Image image;
  std::string error;
  EXPECT_TRUE(readImage(VORNIK_DATA_DIR "/sample_target.jpg", &image, &error)) << error;
  return normaliseTargetImage(toGray(image), 640);
}

TEST(LevelRecognitionFeatures, LevelZeroIsWhatTheRecognizerFindsOnTheSameImage) {
  const Image grey = sampleGrey640();
  GradientDescriptor descriptor;
  const std::vector<RecognitionRecord> records = levelRecognitionFeatures(grey, 100, &descriptor);

  // The recognizer's own path on a frame that is exactly the target.
  Frame frame;
  frame.buildPyramid(
      std::make_unique<GrayImage>(grey.width, grey.height, grey.pixels.data(), false));
  HessianGradientFeatureMngr manager(frame.levelCount());
  ASSERT_TRUE(detectRecognitionCorners(frame, &manager));
  const GrayImage* level0 = frame.getLevel(0);
  descriptor.describeLevel(level0->width, level0->height, level0->pixels.get(), 0, &manager);
  const auto live = manager.featuresOfLevel(0);
  ASSERT_EQ(live.size(), 100u);  // the level-0 quota of a 4-level pyramid

  std::vector<RecognitionRecord> level0Records;
  std::copy_if(records.begin(), records.end(), std::back_inserter(level0Records),
               [](const RecognitionRecord& r) { return r.level == 0; });
  ASSERT_EQ(level0Records.size(), live.size());
  for (size_t i = 0; i < live.size(); ++i) {
    GradientDescriptor::quantizeDescriptor(live[i].get());
    const RecognitionRecord& r = level0Records[i];
    EXPECT_EQ(std::tie(r.x, r.y, r.polarity, r.descriptor),
              std::tie(live[i]->x, live[i]->y, live[i]->polarity, live[i]->descriptor));
    EXPECT_EQ(r.key, descriptorKey(live[i]->descriptor.data()));
  }
}

const Homography kIdentity{1, 0, 0, 0, 1, 0, 0, 0, 1};

FrameRecognitionFeature observed(int x, int y, uint8_t polarity, int32_t key, int level = 0) {
  FrameRecognitionFeature f;
  f.level = level;
  f.scale = static_cast<float>(1 << level);
  f.x = x;
  f.y = y;
  f.polarity = polarity;
  f.key = key;
  f.descriptor.fill(static_cast<uint8_t>(key));
  return f;
}

// (level, polarity, x, y, key, score) of each record.
std::vector<std::array<int32_t, 6>> fieldsOf(const std::vector<RecognitionRecord>& records) {
  std::vector<std::array<int32_t, 6>> out;
  for (const RecognitionRecord& r : records)
    out.push_back({r.level, r.polarity, r.x, r.y, r.key, r.score});
  return out;
}

TEST(RecognitionTrainer, KeepsKeysThatRecurOnTheTargetAndNotOnTheBackground) {
  RecognitionRecord candidate{3, 1, 40, 0, {}, 0x123456, 0};
  RecognitionTrainer trainer(100, 100, {candidate});
  for (int view = 0; view < 3; ++view) {
    std::vector<FrameRecognitionFeature> f = {
        observed(10, 10, 1, 0x123456),    // the candidate's key, every view
        observed(50, 50, 0, 0x000777),    // the same key, other polarity: another pair
        observed(300, 300, 0, 0x0000AA),  // background only
    };
    if (view < 2) f.push_back(observed(20, 20, 0, 0x0000BB));   // on target twice
    if (view == 0) f.push_back(observed(30, 30, 0, 0x0000CC));  // once: noise
    // On the target twice and in the background twice: too common.
    if (view < 2) f.push_back(observed(60, 60, 0, 0x0000DD));
    if (view < 2) f.push_back(observed(400, 10, 0, 0x0000DD));
    trainer.addView(f, kIdentity, kIdentity);
  }
  const std::vector<RecognitionRecord> kept = trainer.select(10);
  // Ties of 3 views broken by (polarity, key); the candidate's key keeps the
  // clean-image record; 0xBB its first sighting, level 0 at magnification 1.
  EXPECT_EQ(fieldsOf(kept),
            (std::vector<std::array<int32_t, 6>>{
                {0, 0, 50, 50, 0x777, 3}, {3, 1, 40, 0, 0x123456, 3}, {0, 0, 20, 20, 0xBB, 2}}));
  EXPECT_EQ(trainer.select(1).size(), 1u);
  EXPECT_EQ(trainer.recall(kept), 0.0);  // at most 3 votes per view
}

TEST(RecognitionTrainer, RecordsAnUnseenKeyAtTheLevelOfItsSize) {
  // The target appears at half size. Frame level 1: one level pixel is 2
  // frame pixels = 4 target pixels, level code 5 * log2(4) = 10, position
  // 2 * 2 * 50 / 4 = 50.
  RecognitionTrainer trainer(1000, 1000, {});
  for (int view = 0; view < 2; ++view) {
    trainer.addView({observed(50, 60, 1, 0xABCD, 1)}, {2, 0, 0, 0, 2, 0, 0, 0, 1},
                    {0.5, 0, 0, 0, 0.5, 0, 0, 0, 1});
  }
  EXPECT_EQ(fieldsOf(trainer.select(5)),
            (std::vector<std::array<int32_t, 6>>{{10, 1, 50, 60, 0xABCD, 2}}));
}

TEST(RecognitionTrainer, GivesUpKeysThatOtherTargetsShowAsOften) {
  RecognitionTrainer trainer(100, 100, {});
  for (int view = 0; view < 4; ++view)
    trainer.addView({observed(10, 10, 0, 0x42)}, kIdentity, kIdentity);
  ForeignKeyEvidence foreign;
  trainer.addTargetViews(&foreign.otherTargetViews);
  EXPECT_EQ(foreign.otherTargetViews[polarKey(0, 0x42)], 4);  // 4 - 4 / 2 = 2 still counts
  EXPECT_EQ(trainer.select(5, &foreign).size(), 1u);
  foreign.otherTargetViews[polarKey(0, 0x42)] = 6;  // 4 - 3 = 1 does not
  EXPECT_EQ(trainer.select(5, &foreign).size(), 0u);
  trainer.addTargetViews(&foreign.otherTargetViews, -1);
  EXPECT_EQ(foreign.otherTargetViews[polarKey(0, 0x42)], 2);
}

std::vector<int32_t> keysOf(const std::vector<RecognitionRecord>& records) {
  std::vector<int32_t> keys;
  for (const RecognitionRecord& r : records) keys.push_back(r.key);
  return keys;
}

// Foreign evidence from a background model that counted `frames`, with a
// budget of `budget` stray votes per frame.
ForeignKeyEvidence against(BackgroundKeys* background,
                           const std::vector<std::vector<FrameRecognitionFeature>>& frames,
                           double budget) {
  for (const auto& frame : frames) background->addFrame(frame);
  ForeignKeyEvidence foreign;
  foreign.background = background;
  foreign.backgroundVoteBudget = budget;
  return foreign;
}

TEST(RecognitionTrainer, KeepsTheStrayVotesOfTargetFreeFramesWithinTheCapAndTheBudget) {
  // Key 0x100 + i seen on the target in 10 + i views at one place.
  RecognitionTrainer trainer(100, 100, {});
  for (int view = 0; view < 14; ++view) {
    std::vector<FrameRecognitionFeature> f;
    for (int i = 0; i < 4; ++i)
      if (view < 10 + i) f.push_back(observed(10 + 10 * i, 50, 0, 0x100 + i));
    trainer.addView(f, kIdentity, kIdentity);
  }
  // 0x103 breaks the cap in frame 0; 0x102 fits; 0x101 fits (frame 1 at 2,
  // frame 2 at 1); 0x100 would put frame 2 at 3.
  BackgroundKeys counted;
  ForeignKeyEvidence foreign =
      against(&counted,
              {{observed(0, 0, 0, 0x103), observed(1, 0, 0, 0x103), observed(2, 0, 0, 0x103)},
               {observed(0, 0, 0, 0x102), observed(1, 0, 0, 0x101)},
               {observed(0, 0, 0, 0x101), observed(1, 0, 0, 0x100), observed(2, 0, 0, 0x100)}},
              100.0);
  EXPECT_EQ(keysOf(trainer.select(10, &foreign)), (std::vector<int32_t>{0x102, 0x101}));
  // Uncounted keys cost the floor at least: three floors keep the three most
  // recurring keys.
  BackgroundKeys empty;
  foreign = against(&empty, {{}}, 3.5 * kKeyCostFloor);
  EXPECT_EQ(keysOf(trainer.select(10, &foreign)), (std::vector<int32_t>{0x103, 0x102, 0x101}));
}

TEST(RecognitionTrainer, ChargesKeysOfTheMirroredTargetAndOfRepeatedStructures) {
  RecognitionTrainer trainer(100, 100, {});
  // 0x200 and 0x201 in 12 views at one place each; 0x202 in 14 views, but
  // at a different place in every view (a repeated structure).
  for (int view = 0; view < 14; ++view) {
    std::vector<FrameRecognitionFeature> f = {observed(7 * view, 90, 0, 0x202)};
    if (view < 12) f.push_back(observed(10, 10, 0, 0x200));
    if (view < 12) f.push_back(observed(50, 50, 0, 0x201));
    trainer.addView(f, kIdentity, kIdentity);
  }
  trainer.addMirrorView({observed(5, 5, 0, 0x200)});
  trainer.addMirrorView({});
  BackgroundKeys empty;
  const ForeignKeyEvidence foreign = against(&empty, {{}}, 100.0);
  // 0x201 costs the floor; 0x202 eight places times the floor; 0x200 the
  // floor plus four times its mirror rate of one half.
  EXPECT_EQ(keysOf(trainer.select(10, &foreign)), (std::vector<int32_t>{0x201, 0x202, 0x200}));
  // Without a background model the ranking is by views alone.
  EXPECT_EQ(keysOf(trainer.select(10)), (std::vector<int32_t>{0x202, 0x200, 0x201}));
}

TEST(SelectUntrainedRecognition, TakesLevelsInTurnsWithoutRepeatingKeys) {
  // (level, key, score); the level-5 record of key 1 repeats a level-0 key.
  std::vector<RecognitionRecord> candidates;
  for (const auto& [level, key, score] :
       {std::array<int, 3>{0, 1, 90}, {0, 2, 80}, {0, 3, 70}, {5, 1, 60}, {5, 4, 50}})
    candidates.push_back({level, 0, 0, 0, {}, key, score});
  EXPECT_EQ(keysOf(selectUntrainedRecognition(candidates, 4)), (std::vector<int32_t>{1, 2, 4, 3}));
}

}  // namespace
}  // namespace vornik
