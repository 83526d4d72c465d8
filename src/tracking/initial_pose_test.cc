#include "tracking/initial_pose.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "features/feature_extractor.h"
#include "features/test_photos.h"
#include "tracking/feature_matching.h"
#include "tracking/initial_pose_test_util.h"

namespace vornik {
namespace {

using test_scene::kCamH;
using test_scene::kCamW;
using test_scene::makePose;
using test_scene::project;
using test_scene::TruePose;

void expectPoseNear(const Matrix& pose, const TruePose& truth, double rotTol, double transTol) {
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(pose(i, j), truth.r[i][j], rotTol) << i << "," << j;
    EXPECT_NEAR(pose(i, 3), truth.t[i], transTol) << i;
  }
}

FeaturePtr described(int32_t x, int32_t y, uint8_t polarity, Random& rng) {
  auto f = std::make_shared<Feature>();
  f->x = x;
  f->y = y;
  f->polarity = polarity;
  f->descriptor.reset(new uint8_t[kDescriptorBytes]);
  for (int k = 0; k < kDescriptorBytes; ++k)
    f->descriptor[k] = static_cast<uint8_t>(rng.uniform(256));
  return f;
}

FeaturePtr copyWithNoise(const Feature& src, int32_t x, int32_t y, Random& rng) {
  auto f = std::make_shared<Feature>();
  f->x = x;
  f->y = y;
  f->polarity = src.polarity;
  f->descriptor.reset(new uint8_t[kDescriptorBytes]);
  for (int k = 0; k < kDescriptorBytes; ++k) {
    const int v = src.descriptor[k] + static_cast<int>(rng.uniform(9)) - 4;
    f->descriptor[k] = static_cast<uint8_t>(std::min(255, std::max(0, v)));
  }
  return f;
}

// `matched` target features seen in the frame at their projections, plus
// unrelated features on both sides (random descriptors never come within
// distance 300 of each other).
void syntheticScene(const TruePose& pose, int matched, int extra, int32_t targetW, uint32_t seed,
                    std::vector<FeaturePtr>* target, std::vector<FeaturePtr>* frame) {
  Random rng(seed);
  target->clear();
  frame->clear();
  for (int i = 0; i < matched + extra; ++i) {
    const int32_t x = static_cast<int32_t>(rng.uniform(targetW)) - targetW / 2;
    const int32_t y = static_cast<int32_t>(rng.uniform(targetW * 3 / 4)) - targetW * 3 / 8;
    target->push_back(described(x, y, static_cast<uint8_t>(rng.uniform(2)), rng));
    if (i < matched) {
      double u, v;
      project(pose, x, y, targetW, &u, &v);
      frame->push_back(copyWithNoise(*target->back(), static_cast<int32_t>(std::lround(u)),
                                     static_cast<int32_t>(std::lround(v)), rng));
    }
  }
  for (int i = 0; i < extra; ++i) {
    frame->push_back(described(static_cast<int32_t>(rng.uniform(kCamW)),
                               static_cast<int32_t>(rng.uniform(kCamH)), 0, rng));
  }
  for (size_t i = frame->size(); i > 1; --i) std::swap((*frame)[i - 1], (*frame)[rng.uniform(i)]);
}

TEST(InitialPoseTest, RecoversSyntheticPose) {
  const int32_t targetW = 400;
  const TruePose truth = makePose(2.9f, 0.3f, -0.2f, 0.05, -0.03, 1.6);
  std::vector<FeaturePtr> target, frame;
  syntheticScene(truth, 80, 40, targetW, 12, &target, &frame);
  Random rng(1);
  MatrixPtr pose;
  ASSERT_EQ(estimateInitialPose(target, targetW, frame, kCamW, kCamH, rng, &pose), kInitialPoseOk);
  ASSERT_TRUE(pose);
  ASSERT_EQ(pose->rows(), 4);
  // Frame positions are whole pixels: about 1e-3 of the 640-pixel focal length.
  expectPoseNear(*pose, truth, 0.01, 0.01);
  EXPECT_EQ((*pose)(3, 3), 1.0);
}

TEST(InitialPoseTest, SeventeenPairsProceedSixteenDoNot) {
  const TruePose truth = makePose(3.0f, 0.0f, 0.0f, 0.0, 0.0, 2.0);
  for (int matched : {17, 16}) {
    std::vector<FeaturePtr> target, frame;
    syntheticScene(truth, matched, 10, 400, 3, &target, &frame);
    Random rng(1);
    MatrixPtr pose;
    EXPECT_EQ(estimateInitialPose(target, 400, frame, kCamW, kCamH, rng, &pose),
              matched == 17 ? kInitialPoseOk : kInitialPoseNotEnoughMatches);
    EXPECT_EQ(pose != nullptr, matched == 17);  // set only on success
  }
}

TEST(InitialPoseTest, InconsistentMatchesFailWithoutTouchingThePose) {
  // 40 mutual matches at random frame positions: no homography explains half.
  std::vector<FeaturePtr> target, frame;
  Random rng(44);
  for (int i = 0; i < 40; ++i) {
    target.push_back(described(static_cast<int32_t>(rng.uniform(400)) - 200,
                               static_cast<int32_t>(rng.uniform(300)) - 150, 1, rng));
    frame.push_back(copyWithNoise(*target.back(), static_cast<int32_t>(rng.uniform(kCamW)),
                                  static_cast<int32_t>(rng.uniform(kCamH)), rng));
  }
  auto sentinel = Matrix::identity(4);
  MatrixPtr pose = sentinel;
  Random sampler(2);
  EXPECT_EQ(estimateInitialPose(target, 400, frame, kCamW, kCamH, sampler, &pose),
            kInitialPoseFailed);
  EXPECT_EQ(pose, sentinel);
  // A target without width cannot be posed either.
  const TruePose truth = makePose(3.0f, 0.0f, 0.0f, 0.0, 0.0, 2.0);
  syntheticScene(truth, 40, 0, 400, 5, &target, &frame);
  EXPECT_EQ(estimateInitialPose(target, 0, frame, kCamW, kCamH, sampler, &pose),
            kInitialPoseFailed);
  EXPECT_EQ(pose, sentinel);
}

TEST(InitialPoseTest, PosesTheSampleTargetInARenderedFrame) {
  const auto photo = testing_photos::loadPhoto(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg");
  ASSERT_GT(photo.width, 0);
  const int32_t w = photo.width, h = photo.height;

  // Target features as the database stores them: centred, y up.
  FeatureExtractor targetExtractor(w, h, 1);
  std::vector<FeaturePtr> target = targetExtractor.extract(photo.gray.data())->describe();
  for (FeaturePtr& f : target) {
    f->x -= w / 2;
    f->y = h / 2 - f->y;
  }
  ASSERT_GE(target.size(), 60u);

  // Slightly tilted and turned, about 0.9 of the target's pixel size.
  const TruePose truth = makePose(3.0f, 0.25f, 0.1f, 0.02, -0.04, 1.4);
  const std::vector<uint8_t> frame = test_scene::renderFrame(photo.gray, w, h, truth);
  FeatureExtractor frameExtractor(kCamW, kCamH, 1);
  const std::vector<FeaturePtr> frameFeatures = frameExtractor.extract(frame.data())->describe();

  Random rng(1);
  MatrixPtr pose;
  ASSERT_EQ(estimateInitialPose(target, w, frameFeatures, kCamW, kCamH, rng, &pose),
            kInitialPoseOk);
  expectPoseNear(*pose, truth, 0.03, 0.03);
}

}  // namespace
}  // namespace vornik
