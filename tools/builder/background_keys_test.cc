#include "builder/background_keys.h"

#include <gtest/gtest.h>

#include <set>

#include "builder/negative_scenes.h"

namespace vornik {
namespace {

FrameRecognitionFeature withKey(uint8_t polarity, int32_t key) {
  FrameRecognitionFeature f;
  f.polarity = polarity;
  f.key = key;
  return f;
}

TEST(BackgroundKeys, CountsEveryRepeatOfAKeyPerFrame) {
  BackgroundKeys keys;
  keys.addFrame({withKey(0, 0x123456), withKey(0, 0x123456), withKey(1, 0x123456)});
  keys.addFrame({});
  keys.addFrame({withKey(0, 0x123456)});
  EXPECT_EQ(keys.frameCount(), 3);
  const auto* seen = keys.find(polarKey(0, 0x123456));
  ASSERT_NE(seen, nullptr);
  ASSERT_EQ(seen->size(), 2u);
  EXPECT_EQ((*seen)[0].frame, 0);
  EXPECT_EQ((*seen)[0].count, 2);
  EXPECT_EQ((*seen)[1].frame, 2);
  EXPECT_EQ((*seen)[1].count, 1);
  EXPECT_EQ(keys.find(polarKey(1, 0x123456))->size(), 1u);
  EXPECT_EQ(keys.find(polarKey(0, 0x654321)), nullptr);
  // A counted key costs at least its count per frame: 3 repeats in 3 frames.
  EXPECT_GE(keys.expectedVotes(polarKey(0, 0x123456)), 1.0);
}

TEST(BackgroundKeys, EstimatesUncountedKeysFromTheirTwoHalves) {
  // Keys are M0 N0 M2 N2 M1 M3, four bits each; the halves are (M0, N0, M1)
  // and (M2, N2, M3).
  BackgroundKeys keys;
  std::vector<FrameRecognitionFeature> frame;
  for (int i = 0; i < 9; ++i) frame.push_back(withKey(0, 0x120030 | (i << 8)));  // N2 varies
  frame.push_back(withKey(1, 0xFFFFFF));
  keys.addFrame(frame);
  keys.addFrame({});
  // 0x12A030 was never seen; its along half (1, 2, 3) was seen 9 times in 9
  // polarity-0 features, its across half (0, A, 0) never.
  const double along = (9.0 + 1.0) / (9.0 + 4096.0);
  const double across = (0.0 + 1.0) / (9.0 + 4096.0);
  EXPECT_DOUBLE_EQ(keys.expectedVotes(polarKey(0, 0x12A030)), 9.0 / 2.0 * along * across);
  // The other polarity has its own tables.
  EXPECT_DOUBLE_EQ(keys.expectedVotes(polarKey(1, 0x12A030)),
                   1.0 / 2.0 * (1.0 / 4097.0) * (1.0 / 4097.0));
  EXPECT_EQ(BackgroundKeys().expectedVotes(polarKey(0, 1)), 0.0);
}

TEST(NegativeScenes, AreDeterministicAndFullOfCorners) {
  GradientDescriptor descriptor;
  for (int kind = 0; kind < kNegativeSceneKinds; ++kind) {
    SCOPED_TRACE(kind);
    const auto k = static_cast<NegativeSceneKind>(kind);
    const Image a = makeNegativeScene(k, 320, 240, 5);
    ASSERT_EQ(a.width, 320);
    ASSERT_EQ(a.height, 240);
    ASSERT_EQ(a.channels, 1);
    EXPECT_EQ(a.pixels, makeNegativeScene(k, 320, 240, 5).pixels);
    EXPECT_NE(a.pixels, makeNegativeScene(k, 320, 240, 6).pixels);
    // Scenes stand for busy backgrounds: at least the finest level's quota
    // of a 3-level pyramid (133 of 199) is filled.
    EXPECT_GE(frameRecognitionFeatures(a.pixels.data(), 320, 240, &descriptor).size(), 133u);
  }
  EXPECT_TRUE(makeNegativeScene(NegativeSceneKind::kBricks, 0, 10, 1).empty());
}

TEST(NegativeScenes, StarFieldsGiveBrightBlobs) {
  // A bright dot's ring is darker than its centre: polarity 0.
  GradientDescriptor descriptor;
  const Image sky = makeNegativeScene(NegativeSceneKind::kStarField, 640, 480, 1);
  int bright = 0;
  const auto features = frameRecognitionFeatures(sky.pixels.data(), 640, 480, &descriptor);
  for (const FrameRecognitionFeature& f : features) bright += f.polarity == 0 ? 1 : 0;
  EXPECT_GT(bright, static_cast<int>(features.size()) * 3 / 4);
}

TEST(NegativeSceneKeys, IsMadeOncePerFrameSize) {
  const BackgroundKeys& model = negativeSceneKeys(320, 240);
  EXPECT_EQ(&model, &negativeSceneKeys(320, 240));
  EXPECT_EQ(model.frameCount(), 8 * kNegativeSceneKinds);
}

}  // namespace
}  // namespace vornik
