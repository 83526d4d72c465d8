#include "builder/background_keys.h"

#include <gtest/gtest.h>

#include <tuple>

#include "builder/negative_scenes.h"

namespace vornik {
namespace {

FrameRecognitionFeature withKey(uint8_t polarity, int32_t key) {
  FrameRecognitionFeature f;
  f.polarity = polarity;
  f.key = key;
  return f;
}

TEST(BackgroundKeys, EstimatesUncountedKeysFromTheirTwoHalves) {
  // Keys are M0 N0 M2 N2 M1 M3, four bits each; the halves are (M0, N0, M1)
  // and (M2, N2, M3). Nine polarity-0 keys share the half (1, 2, 3).
  BackgroundKeys keys;
  std::vector<FrameRecognitionFeature> frame;
  for (int i = 0; i < 9; ++i) frame.push_back(withKey(0, 0x120030 | (i << 8)));
  frame.push_back(withKey(1, 0xFFFFFF));
  keys.addFrame(frame);
  const auto votes = [&](uint8_t polarity, int32_t key) {
    return keys.expectedVotes(polarKey(polarity, key));
  };
  EXPECT_GT(votes(0, 0x12A030), 4.0 * votes(0, 0x45A678));
  // The other polarity has its own tables: there the half was never seen.
  EXPECT_LT(votes(1, 0x12A030), 2.0 * votes(1, 0x45A678));
  EXPECT_EQ(BackgroundKeys().expectedVotes(polarKey(0, 1)), 0.0);
}

TEST(NegativeScenes, AreDeterministicAndFullOfCorners) {
  GradientDescriptor descriptor;
  for (int kind = 0; kind < kNegativeSceneKinds; ++kind) {
    SCOPED_TRACE(kind);
    const auto k = static_cast<NegativeSceneKind>(kind);
    const Image a = makeNegativeScene(k, 320, 240, 5);
    ASSERT_EQ(std::make_tuple(a.width, a.height, a.channels), std::make_tuple(320, 240, 1));
    EXPECT_EQ(a.pixels, makeNegativeScene(k, 320, 240, 5).pixels);
    EXPECT_NE(a.pixels, makeNegativeScene(k, 320, 240, 6).pixels);
    // Scenes stand for busy backgrounds: at least the finest level's quota
    // of a 3-level pyramid (133 of 199) is filled.
    EXPECT_GE(frameRecognitionFeatures(a.pixels.data(), 320, 240, &descriptor).size(), 133u);
  }
  EXPECT_TRUE(makeNegativeScene(NegativeSceneKind::kBricks, 0, 10, 1).empty());
}

}  // namespace
}  // namespace vornik
