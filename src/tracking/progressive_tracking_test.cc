#include "tracking/progressive_tracking.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <memory>
#include <string>

#include "features/corner_detection.h"
#include "manager/log.h"
#include "platform/threads.h"
#include "tracking/patch_search.h"
#include "tracking/se3.h"
#include "tracking/test_images.h"

namespace vornik {
namespace {

using testing_images::cornerDistance;
using testing_images::loadGrayJpeg;
using testing_images::renderPlane;
using testing_images::viewPose;

std::unique_ptr<Frame> frameOf(std::unique_ptr<GrayImage> image) {
  auto frame = std::make_unique<Frame>();
  frame->buildPyramid(std::move(image));
  return frame;
}

// Keyframe of a texture with corners placed by hand on its base level.
std::unique_ptr<Keyframe> keyframeWithCorners(std::unique_ptr<GrayImage> image,
                                              const std::vector<std::pair<int, int>>& pixels) {
  auto keyframe = std::make_unique<Keyframe>();
  keyframe->buildPyramid(std::move(image));
  const GrayImage* base = keyframe->getLevel(trackingBaseLevel(*keyframe));
  for (const auto& p : pixels) {
    KeyframeCorner c;
    c.x = p.first;
    c.y = p.second;
    keyframe->corners.push_back(c);
  }
  normalizeCorners(base->width, base->height, &keyframe->corners);
  keyframe->buildTrackPoints();
  return keyframe;
}

std::unique_ptr<Keyframe> photoKeyframe(const std::string& name) {
  auto image = loadGrayJpeg(std::string(VORNIK_DATA_DIR) + "/" + name);
  if (!image) return nullptr;
  auto keyframe = std::make_unique<Keyframe>();
  keyframe->buildPyramid(std::move(image));
  if (!detectTrackingCorners(keyframe.get())) return nullptr;
  keyframe->buildTrackPoints();
  return keyframe;
}

TEST(PrepareTrackPoints, ChoosesTheLevelWhoseScaleMatchesTheKeyframe) {
  // 320 x 240 keyframe (base level 0) against a 640 x 480 frame (base level 1,
  // 320 wide) or a 320 x 240 one (base level 0, three levels).
  struct Case {
    int frameWidth;
    float depth;
    bool inImage;
    int levelOffset;
    float warp;  // diagonal of the warp
  };
  const Case cases[] = {{640, 1.0f, true, 0, 1.0f},    // same scale
                        {640, 0.5f, true, 1, 1.0f},    // twice as large: one level coarser
                        {640, 2.0f, true, 0, 2.0f},    // det exactly 0.25 stays on the base level
                        {640, 2.1f, true, -1, 1.05f},  // det below 0.25
                        {640, 4.5f, false, 0, 0.0f},   // two levels away: not usable
                        {320, 1.0f, true, 0, 1.0f},
                        {320, 2.1f, false, 0, 0.0f}};  // the finer level does not exist
  for (const Case& c : cases) {
    auto frame = frameOf(std::make_unique<GrayImage>(c.frameWidth, c.frameWidth * 3 / 4));
    const int base = trackingBaseLevel(*frame);
    auto keyframe = keyframeWithCorners(std::make_unique<GrayImage>(320, 240), {{160, 120}});
    prepareTrackPoints(*keyframe, *frame, viewPose({0, 0, 0}, {0, 0, c.depth}));
    const TrackPoint& p = keyframe->trackPoints[0];
    SCOPED_TRACE(::testing::Message() << c.frameWidth << " at " << c.depth);
    EXPECT_EQ(p.inImage, c.inImage);
    EXPECT_EQ(p.sourceLevel, 0);
    EXPECT_FALSE(p.searched || p.isFound || p.inlier);
    EXPECT_NEAR(p.projected[0], 160.0f, 1e-4f);  // both base levels are 320 wide
    EXPECT_NEAR(p.projected[1], 120.0f, 1e-4f);
    EXPECT_NEAR(p.camera[2], c.depth, 1e-6f);
    if (!c.inImage) continue;
    EXPECT_EQ(p.searchLevel, base + c.levelOffset);
    EXPECT_NEAR(p.warp[0], c.warp, 1e-4f);
    EXPECT_NEAR(p.warp[3], c.warp, 1e-4f);
    EXPECT_NEAR(p.warp[1], 0.0f, 1e-5f);
    EXPECT_NEAR(p.warp[2], 0.0f, 1e-5f);
  }
}

TEST(PrepareTrackPoints, MarginsGrowWithTheLevelAndMirrorsAreRejected) {
  // At depth 1 a keyframe pixel x lands on frame base pixel x: margin 4.
  auto keyframe = keyframeWithCorners(
      std::make_unique<GrayImage>(320, 240),
      {{4, 100}, {3, 100}, {315, 100}, {316, 100}, {100, 4}, {100, 3}, {100, 235}, {100, 236}});
  auto frame = frameOf(std::make_unique<GrayImage>(640, 480));
  prepareTrackPoints(*keyframe, *frame, viewPose({0, 0, 0}, {0, 0, 1.0f}));
  const bool expected[] = {true, false, true, false, true, false, true, false};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(keyframe->trackPoints[i].inImage, expected[i]) << i;

  // At depth 0.5 (one level up) x lands on 2x - 160: margin 8.
  keyframe = keyframeWithCorners(std::make_unique<GrayImage>(320, 240),
                                 {{84, 100}, {83, 100}, {235, 100}, {236, 100}});
  prepareTrackPoints(*keyframe, *frame, viewPose({0, 0, 0}, {0, 0, 0.5f}));
  EXPECT_TRUE(keyframe->trackPoints[0].inImage);   // u = 8
  EXPECT_FALSE(keyframe->trackPoints[1].inImage);  // u = 6
  EXPECT_TRUE(keyframe->trackPoints[2].inImage);   // u = 310 = 319 - 8 - 1
  EXPECT_FALSE(keyframe->trackPoints[3].inImage);  // u = 312

  // Without the facing flip the view is mirrored: negative determinant.
  keyframe = keyframeWithCorners(std::make_unique<GrayImage>(320, 240), {{160, 120}});
  prepareTrackPoints(*keyframe, *frame, Mat44f::rigid(Matrix33F::identity(), {0, 0, 1}));
  EXPECT_FALSE(keyframe->trackPoints[0].inImage);
  // A plane seen edge-on has a zero determinant; it must not hang.
  prepareTrackPoints(*keyframe, *frame, viewPose({0, 1.5707964f, 0}, {0, 0, 1}));
  EXPECT_FALSE(keyframe->trackPoints[0].inImage);
}

TEST(ComputeJacobians, MatchFiniteDifferencesOfTheProjection) {
  const Mat44f pose = viewPose({0.2f, -0.3f, 0.1f}, {0.05f, -0.02f, 1.3f});
  const float X = 0.21f, Y = -0.13f;
  TrackPoint point;
  float projected[2];
  projectPlanePoint(pose, X, Y, 320, 240, point.camera, point.normalized, projected);
  computeJacobians(point, 320);
  const float h = 1e-3f;
  for (int j = 0; j < 6; ++j) {
    SixVector step;
    step[j] = h;
    float camera[3], normalized[2], plus[2], minus[2];
    projectPlanePoint(se3Exp(step) * pose, X, Y, 320, 240, camera, normalized, plus);
    step[j] = -h;
    projectPlanePoint(se3Exp(step) * pose, X, Y, 320, 240, camera, normalized, minus);
    EXPECT_NEAR(point.jacobianU[j], (plus[0] - minus[0]) / (2 * h),
                0.02f * (1 + std::fabs(point.jacobianU[j])))
        << j;
    EXPECT_NEAR(point.jacobianV[j], (plus[1] - minus[1]) / (2 * h),
                0.02f * (1 + std::fabs(point.jacobianV[j])))
        << j;
  }
}

// Found points with chosen errors and random Jacobians.
std::vector<TrackPoint> syntheticPoints(const std::vector<std::pair<float, float>>& errors,
                                        uint32_t seed) {
  Random random(seed);
  std::vector<TrackPoint> points(errors.size());
  for (size_t i = 0; i < errors.size(); ++i) {
    TrackPoint& p = points[i];
    p.isFound = true;
    p.projected[0] = 50.0f + i;
    p.projected[1] = 80.0f - i;
    p.found[0] = p.projected[0] + errors[i].first;
    p.found[1] = p.projected[1] + errors[i].second;
    for (int j = 0; j < 6; ++j) {
      p.jacobianU[j] = (static_cast<float>(random.uniform(2001)) - 1000.0f) / 10.0f;
      p.jacobianV[j] = (static_cast<float>(random.uniform(2001)) - 1000.0f) / 10.0f;
    }
  }
  return points;
}

// (100 I + J^T W J)^-1 J^T W e with the given Tukey scale, in double.
Eigen::VectorXd referenceUpdate(const std::vector<TrackPoint>& points, double scale2) {
  Eigen::MatrixXd n = 100.0 * Eigen::MatrixXd::Identity(6, 6);
  Eigen::VectorXd v = Eigen::VectorXd::Zero(6);
  for (const TrackPoint& p : points) {
    if (!p.isFound) continue;
    const double ex = p.found[0] - p.projected[0], ey = p.found[1] - p.projected[1];
    const double e2 = ex * ex + ey * ey;
    const double t = e2 <= scale2 ? 1.0 - e2 / scale2 : 0.0;
    const double w = t * t;
    Eigen::VectorXd ju(6), jv(6);
    for (int j = 0; j < 6; ++j) {
      ju[j] = p.jacobianU[j];
      jv[j] = p.jacobianV[j];
    }
    n += w * (ju * ju.transpose() + jv * jv.transpose());
    v += w * (ju * ex + jv * ey);
  }
  return n.ldlt().solve(v);
}

std::vector<TrackPoint*> pointersTo(std::vector<TrackPoint>& points) {
  std::vector<TrackPoint*> out;
  for (TrackPoint& p : points) out.push_back(&p);
  return out;
}

TEST(ComputePoseUpdate, FixedScaleWeightsAndSolutionMatchADirectSolve) {
  auto points = syntheticPoints({{0.3f, -0.4f},
                                 {0.1f, 0.2f},
                                 {-0.5f, 0.5f},
                                 {1.0f, 0.5f},
                                 {0.0f, -0.2f},
                                 {0.7f, 0.7f},
                                 {-0.2f, 0.1f},
                                 {0.05f, 0.05f}},
                                7);
  points[6].isFound = false;  // ignored entirely
  ProgressiveTracking tracking;
  float mse = 0;
  int32_t inliers = 0;
  auto list = pointersTo(points);
  const SixVector update = tracking.computePoseUpdate(list, 1.0f, &mse, &inliers);
  const float expectedMse = (0.25f + 0.05f + 0.5f + 1.25f + 0.04f + 0.98f + 0.005f) / 7.0f;
  EXPECT_NEAR(mse, expectedMse, 1e-6f);
  EXPECT_EQ(inliers, 6);  // 1.25 > 1 gets weight 0
  EXPECT_FALSE(points[3].inlier);
  EXPECT_EQ(points[3].weight, 0.0f);
  EXPECT_TRUE(points[0].inlier);
  EXPECT_NEAR(points[0].weight, 0.75f * 0.75f, 1e-5f);
  EXPECT_NEAR(points[5].weight, 0.02f * 0.02f, 1e-5f);
  const Eigen::VectorXd reference = referenceUpdate(points, 1.0);
  for (int j = 0; j < 6; ++j)
    EXPECT_NEAR(update[j], reference[j], 1e-4 * (1 + std::fabs(reference[j]))) << j;

  // No found point: not a number, no inlier and no motion.
  for (TrackPoint& p : points) p.isFound = false;
  const SixVector none = tracking.computePoseUpdate(list, 0.0f, &mse, &inliers);
  EXPECT_TRUE(std::isnan(mse));
  EXPECT_EQ(inliers, 0);
  for (int j = 0; j < 6; ++j) EXPECT_EQ(none[j], 0.0f);
}

TEST(ComputePoseUpdate, EstimatedScaleUsesTheMedianWithTheSmallSampleFactor) {
  std::vector<std::pair<float, float>> errors;
  for (int i = 0; i < 11; ++i) errors.push_back({0.1f * i, 0.0f});
  errors.push_back({4.0f, 3.0f});  // far outlier
  auto points = syntheticPoints(errors, 9);
  ProgressiveTracking tracking;
  float mse = 0;
  int32_t inliers = 0;
  auto list = pointersTo(points);
  const SixVector update = tracking.computePoseUpdate(list, 0.0f, &mse, &inliers);
  // Twelve squared errors; the element at index 6 after sorting is 0.36.
  const double sigma = std::sqrt(0.36) * (1.4826 + 5.0 / 7.0);
  const double scale2 = sigma * sigma;  // about 1.74
  const Eigen::VectorXd reference = referenceUpdate(points, scale2);
  for (int j = 0; j < 6; ++j)
    EXPECT_NEAR(update[j], reference[j], 1e-3 * (1 + std::fabs(reference[j]))) << j;
  EXPECT_EQ(inliers, 11);
  EXPECT_FALSE(points[11].inlier);
  EXPECT_NEAR(points[10].weight, std::pow(1 - 1.0 / scale2, 2), 1e-5);

  // Exactly five points: the scale is infinite and every point weighs 1.
  auto five = syntheticPoints({{0, 0}, {3, 0}, {0, 9}, {0.1f, 0}, {0, 0}}, 4);
  auto fiveList = pointersTo(five);
  tracking.computePoseUpdate(fiveList, 0.0f, &mse, &inliers);
  EXPECT_EQ(inliers, 5);
  for (const TrackPoint& p : five) EXPECT_EQ(p.weight, 1.0f);
}

class TrackPhoto : public ::testing::Test {
 protected:
  void SetUp() override {
    target_ = loadGrayJpeg(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg");
    ASSERT_TRUE(target_);
    keyframe_ = photoKeyframe("sample_target.jpg");
    ASSERT_TRUE(keyframe_);
    ASSERT_GT(keyframe_->trackPoints.size(), 100u);
  }
  std::unique_ptr<Frame> render(const Mat44f& pose) {
    return frameOf(renderPlane(*target_, pose, 640, 480));
  }
  std::unique_ptr<GrayImage> target_;
  std::unique_ptr<Keyframe> keyframe_;
};

TEST_F(TrackPhoto, KeyframeThenPreviousFrameFollowARealPhoto) {
  const Mat44f truth = viewPose({0.25f, -0.15f, 0.1f}, {0.03f, -0.02f, 1.7f});
  auto frame = render(truth);
  // Prediction off by several pixels and a few degrees.
  const Mat44f predicted = se3Exp(SixVector(0.015f, -0.01f, 0.04f, 0.02f, -0.03f, 0.03f)) * truth;
  ASSERT_GT(cornerDistance(predicted, truth), 8.0f);
  ProgressiveTracking tracking;
  Mat44f pose;
  float error = -1;
  ASSERT_TRUE(tracking.trackFromKeyframe(*keyframe_, *frame, predicted, &pose, &error));
  EXPECT_LT(cornerDistance(pose, truth), 1.0f);
  EXPECT_GE(error, 0.0f);
  EXPECT_LT(error, 0.5f);

  const Mat44f truth2 = se3Exp(SixVector(0.01f, 0.005f, -0.02f, 0.01f, 0.015f, -0.01f)) * truth;
  auto frame2 = render(truth2);
  Mat44f pose2;
  ASSERT_TRUE(
      tracking.trackFromPreviousFrame(*keyframe_, *frame, pose, *frame2, pose, &pose2, &error));
  // Fine positions from the previous frame are whole base-level pixels.
  EXPECT_LT(cornerDistance(pose2, truth2), 2.0f);
  EXPECT_LT(error, 0.5f);
}

TEST_F(TrackPhoto, FewerThanFifteenCoarsePointsFailWithoutTouchingThePose) {
  const Mat44f truth = viewPose({0.1f, 0.1f, 0.0f}, {0.0f, 0.0f, 1.8f});
  auto frame = render(truth);
  Mat44f pose = Mat44f::identity();
  float error = -1;
  ProgressiveTracking tracking;

  // A blank frame, where nothing is found; then the real frame with only 14
  // corners, which can all be found and are still too few.
  auto blank = frameOf(std::make_unique<GrayImage>(640, 480));
  for (const Frame* next : {blank.get(), frame.get()}) {
    if (next == frame.get()) {
      keyframe_->corners.resize(14);
      keyframe_->buildTrackPoints();
    }
    ::testing::internal::CaptureStdout();
    const bool fromKeyframe = tracking.trackFromKeyframe(*keyframe_, *next, truth, &pose, &error);
    const bool fromPrevious =
        tracking.trackFromPreviousFrame(*keyframe_, *frame, truth, *next, truth, &pose, &error);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "fail due to small found count\nfail due to small found count\n");
    EXPECT_FALSE(fromKeyframe || fromPrevious);
  }
  int found = 0;
  for (const TrackPoint& p : keyframe_->trackPoints) found += p.isFound ? 1 : 0;
  EXPECT_GE(found, 12);
  const Mat44f identity = Mat44f::identity();
  for (int i = 0; i < 16; ++i) EXPECT_EQ(pose.m[i], identity.m[i]);
  EXPECT_EQ(error, -1.0f);
}

// A 320 x 240 frame has levels 0 to 2 and its base level is 0: points that
// would be searched one level below it are not in the image.
TEST_F(TrackPhoto, NoPointIsSearchedOnALevelTheFrameLacks) {
  // Turned away, so that the far side of the target falls below the base scale.
  const Mat44f pose = viewPose({0.0f, 0.8f, 0.0f}, {0.0f, 0.0f, 2.0f});
  auto frame = frameOf(renderPlane(*target_, pose, 320, 240));
  ASSERT_EQ(trackingBaseLevel(*frame), 0);
  ProgressiveTracking tracking;
  Mat44f out;
  float error = 0;
  ::testing::internal::CaptureStdout();
  tracking.trackFromKeyframe(*keyframe_, *frame, pose, &out, &error);
  ::testing::internal::GetCapturedStdout();
  int inImage = 0, searched = 0;
  for (const TrackPoint& p : keyframe_->trackPoints) {
    inImage += p.inImage ? 1 : 0;
    searched += p.searched ? 1 : 0;
    if (p.inImage) {
      EXPECT_NE(frame->getLevel(p.searchLevel), nullptr);
    }
    if (!p.searched) continue;
    EXPECT_NE(keyframe_->getLevel(p.sourceLevel), nullptr);
    EXPECT_NE(frame->getLevel(p.searchLevel), nullptr);
  }
  EXPECT_LT(inImage, static_cast<int>(keyframe_->trackPoints.size()));
  EXPECT_GT(searched, 20);
}

// Keyframe of well separated corners; the frame shows `good` of them where
// the pose puts them and moves the picture around each other one by 12
// pixels in turn up, right, down and left, so that they are found but
// disagree with any single pose.
TEST_F(TrackPhoto, PreviousFrameVariantNeedsEightCoarseInliers) {
  const Mat44f truth = viewPose({0.05f, -0.05f, 0.0f}, {0.0f, 0.0f, 1.6f});
  auto clean = renderPlane(*target_, truth, 640, 480);
  std::vector<KeyframeCorner> spread;
  for (const KeyframeCorner& c : keyframe_->corners) {
    bool far = c.x >= 20 && c.y >= 20 && c.x < 236 && c.y < 236;
    for (const KeyframeCorner& s : spread) far = far && std::hypot(c.x - s.x, c.y - s.y) >= 34.0;
    if (far) spread.push_back(c);
  }
  ASSERT_GE(spread.size(), 17u);
  spread.resize(17);
  for (int good : {7, 8}) {
    auto keyframe = std::make_unique<Keyframe>();
    keyframe->buildPyramid(loadGrayJpeg(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg"));
    keyframe->corners = spread;
    keyframe->buildTrackPoints();
    auto image = std::make_unique<GrayImage>(640, 480, clean->pixels.get(), false);
    const int shifts[4][2] = {{0, -12}, {12, 0}, {0, 12}, {-12, 0}};
    for (int i = good; i < 17; ++i) {
      float camera[3], normalized[2], at[2];
      projectPlanePoint(truth, spread[i].X, spread[i].Y, 640, 480, camera, normalized, at);
      const int dx = shifts[i % 4][0], dy = shifts[i % 4][1];
      for (int y = static_cast<int>(at[1]) - 24; y <= static_cast<int>(at[1]) + 24; ++y)
        for (int x = static_cast<int>(at[0]) - 24; x <= static_cast<int>(at[0]) + 24; ++x)
          image->pixels[y * 640 + x] = clean->at(x - dx, y - dy);
    }
    auto frame = frameOf(std::move(image));
    auto previous = frameOf(std::make_unique<GrayImage>(640, 480, clean->pixels.get(), false));
    ProgressiveTracking tracking;
    Mat44f pose = Mat44f::identity();
    float error = -1;
    ::testing::internal::CaptureStdout();
    const bool ok =
        tracking.trackFromPreviousFrame(*keyframe, *previous, truth, *frame, truth, &pose, &error);
    const std::string out = ::testing::internal::GetCapturedStdout();
    int found = 0, inliers = 0;
    for (const TrackPoint& p : keyframe->trackPoints) {
      if (p.sourceLevel != trackingBaseLevel(*keyframe) + 1) continue;  // coarse set only
      found += p.isFound ? 1 : 0;
      inliers += p.inlier ? 1 : 0;
    }
    EXPECT_GE(found, 15) << good;
    if (good == 7) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(out, "fail due to small inlier count\n");
      EXPECT_EQ(inliers, 7);
      EXPECT_EQ(pose.m[0], 1.0f);  // untouched
    } else {
      EXPECT_TRUE(ok) << out;
      EXPECT_EQ(out, "");
      // Eight points on the coarse level carry the pose alone.
      EXPECT_LT(cornerDistance(pose, truth), 4.0f);
    }
  }
}

bool nextThreadStarts() {
  ThreadHandle thread;
  if (createThread(
          &thread, [](void*) -> void* { return nullptr; }, nullptr) != 0)
    return false;
  joinThread(thread);
  return true;
}

// Workers that cannot be started (none, one, two or all three) are made up
// for on the calling thread: every point is searched once, as by the plain
// search.
TEST_F(TrackPhoto, ThreadedKeyframeSearchFindsTheSamePoints) {
  const Mat44f truth = viewPose({0.3f, 0.2f, -0.2f}, {-0.02f, 0.03f, 1.6f});
  auto frame = render(truth);
  const Mat44f predicted = se3Exp(SixVector(0.01f, 0.01f, 0.02f, -0.01f, 0.02f, 0.0f)) * truth;
  auto other = photoKeyframe("sample_target.jpg");
  ASSERT_TRUE(other);
  ASSERT_EQ(other->trackPoints.size(), keyframe_->trackPoints.size());
  setLogSink([](const char*) {});  // the refused workers' complaint
  for (int subpixel : {5, 0}) {
    prepareTrackPoints(*keyframe_, *frame, predicted);
    std::vector<TrackPoint*> single;
    std::vector<size_t> indices;
    for (size_t i = 0; i < keyframe_->trackPoints.size(); ++i) {
      if (!keyframe_->trackPoints[i].inImage) continue;
      single.push_back(&keyframe_->trackPoints[i]);
      indices.push_back(i);
    }
    ASSERT_GT(single.size(), 60u);
    const int expected = searchPointsInKeyframe(*keyframe_, single, *frame, 15, subpixel);
    EXPECT_GT(expected, static_cast<int>(single.size()) / 2);
    for (int refused : {0, 1, 2, 3}) {
      SCOPED_TRACE(::testing::Message() << refused << " refused, sub-pixel " << subpixel);
      prepareTrackPoints(*other, *frame, predicted);
      std::vector<TrackPoint*> threaded;
      for (size_t i : indices) threaded.push_back(&other->trackPoints[i]);
      failNextThreadCreations(refused);
      EXPECT_EQ(searchPointsInKeyframeThreaded(*other, threaded, *frame, 15, subpixel), expected);
      // The search asked the thread layer for all three workers.
      EXPECT_TRUE(nextThreadStarts());
      failNextThreadCreations(0);
      for (size_t i = 0; i < single.size(); ++i) {
        EXPECT_EQ(single[i]->isFound, threaded[i]->isFound) << i;
        EXPECT_EQ(single[i]->refined, threaded[i]->refined) << i;
        if (!single[i]->isFound) continue;
        EXPECT_EQ(single[i]->found[0], threaded[i]->found[0]) << i;
        EXPECT_EQ(single[i]->found[1], threaded[i]->found[1]) << i;
      }
    }
  }
  setLogSink(nullptr);
}

}  // namespace
}  // namespace vornik
