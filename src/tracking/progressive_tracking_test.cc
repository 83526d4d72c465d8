#include "tracking/progressive_tracking.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <array>
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

// Keyframe of a blank 320 x 240 image (base level 0) with corners placed by hand.
std::unique_ptr<Keyframe> keyframeWithCorners(const std::vector<KeyframeCorner>& corners) {
  auto keyframe = std::make_unique<Keyframe>();
  keyframe->buildPyramid(std::make_unique<GrayImage>(320, 240));
  keyframe->corners = corners;
  normalizeCorners(320, 240, 0, &keyframe->corners);
  keyframe->buildTrackPoints();
  return keyframe;
}

std::unique_ptr<Keyframe> photoKeyframe(const GrayImage& photo) {
  auto keyframe = std::make_unique<Keyframe>();
  keyframe->buildPyramid(
      std::make_unique<GrayImage>(photo.width, photo.height, photo.pixels.get()));
  if (!detectTrackingCorners(keyframe.get())) return nullptr;
  keyframe->buildTrackPoints();
  return keyframe;
}

TEST(PrepareTrackPoints, ChoosesTheLevelWhoseScaleMatchesTheKeyframe) {
  // 320 x 240 keyframe (levels 0-2, base 0) against a 640 x 480 frame (base
  // level 1, 320 wide) or a 320 x 240 one (base level 0, three levels). With
  // a level range, far points take their templates from a coarser keyframe
  // level and keep the warp of their scale.
  struct Case {
    int frameWidth;
    float depth;
    int range;
    bool inImage;
    int levelOffset;
    int sourceLevel;
    float warp;  // diagonal of the warp
  };
  const Case cases[] = {{640, 1.0f, 0, true, 0, 0, 1.0f},    // same scale
                        {640, 0.5f, 0, true, 1, 0, 1.0f},    // twice as large: one level coarser
                        {640, 2.0f, 0, true, 0, 0, 2.0f},    // det exactly 0.25 stays on the base
                        {640, 2.1f, 0, true, -1, 0, 1.05f},  // det below 0.25
                        {640, 4.5f, 0, false, 0, 0, 0.0f},   // two levels away: not usable
                        {320, 1.0f, 0, true, 0, 0, 1.0f},
                        {320, 2.1f, 0, false, 0, 0, 0.0f},     // the finer level does not exist
                        {640, 2.1f, 2, true, -1, 0, 1.05f},    // within one step: as without range
                        {640, 4.5f, 2, true, -1, 1, 1.125f},   // one keyframe level coarser
                        {640, 9.5f, 2, true, -1, 2, 1.1875f},  // two
                        {640, 9.5f, 1, false, 0, 0, 0.0f},     // beyond the range
                        {640, 19.5f, 3, false, 0, 0, 0.0f},    // the keyframe has no third level
                        {640, 0.2f, 2, false, 0, 0, 0.0f}};    // near: no finer keyframe level
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.frameWidth << " at " << c.depth << " range " << c.range);
    auto frame = frameOf(std::make_unique<GrayImage>(c.frameWidth, c.frameWidth * 3 / 4));
    auto keyframe = keyframeWithCorners({{160, 120}});
    prepareTrackPoints(*keyframe, *frame, viewPose({0, 0, 0}, {0, 0, c.depth}), c.range);
    const TrackPoint& p = keyframe->trackPoints[0];
    EXPECT_EQ(p.inImage, c.inImage);
    EXPECT_EQ(p.sourceLevel, c.sourceLevel);
    EXPECT_EQ(p.sourceShift, c.sourceLevel);
    EXPECT_FALSE(p.searched || p.isFound || p.inlier);
    // The keyframe centre lands on the frame centre: full-resolution (320,
    // 240) of a 640 x 480 frame is (159.75, 119.75) on its base level 1.
    const float centre = c.frameWidth == 640 ? -0.25f : 0.0f;
    EXPECT_NEAR(p.projected[0], 160.0f + centre, 1e-4f);
    EXPECT_NEAR(p.projected[1], 120.0f + centre, 1e-4f);
    EXPECT_NEAR(p.camera[2], c.depth, 1e-6f);
    if (!c.inImage) continue;
    EXPECT_EQ(p.searchLevel, trackingBaseLevel(*frame) + c.levelOffset);
    const float warp[4] = {c.warp, 0, 0, c.warp};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(p.warp[i], warp[i], 1e-4f) << i;
  }
}

TEST(PrepareTrackPoints, MarginsGrowWithTheLevelAndMirrorsAreRejected) {
  // At depth 1 keyframe pixel x lands on full-resolution frame pixel 2x,
  // which is x - 0.25 on the base level (level 1): margin 4, so 5 and 315
  // are the last inside. At depth 0.5 (one level up) x lands on 4x - 320,
  // that is 2x - 160.25 on the base level: margin 8, so 85 and 235 are the
  // last inside. Each even corner is just inside, the odd one after it just
  // outside.
  const std::pair<float, std::vector<KeyframeCorner>> cases[] = {
      {1.0f,
       {{5, 100}, {4, 100}, {315, 100}, {316, 100}, {100, 5}, {100, 4}, {100, 235}, {100, 236}}},
      {0.5f, {{85, 100}, {84, 100}, {235, 100}, {236, 100}}}};
  auto frame = frameOf(std::make_unique<GrayImage>(640, 480));
  for (const auto& c : cases) {
    auto keyframe = keyframeWithCorners(c.second);
    prepareTrackPoints(*keyframe, *frame, viewPose({0, 0, 0}, {0, 0, c.first}));
    for (size_t i = 0; i < c.second.size(); ++i)
      EXPECT_EQ(keyframe->trackPoints[i].inImage, i % 2 == 0) << c.first << " " << i;
  }
  // Without the facing flip the view is mirrored: negative determinant.
  auto keyframe = keyframeWithCorners({{160, 120}});
  prepareTrackPoints(*keyframe, *frame, Mat44f::rigid(Matrix33F::identity(), {0, 0, 1}));
  EXPECT_FALSE(keyframe->trackPoints[0].inImage);
  // A plane seen edge-on has a zero determinant; it must not hang.
  prepareTrackPoints(*keyframe, *frame, viewPose({0, 1.5707964f, 0}, {0, 0, 1}));
  EXPECT_FALSE(keyframe->trackPoints[0].inImage);
}

TEST(ComputeJacobians, MatchFiniteDifferencesOfTheProjection) {
  const Mat44f pose = viewPose({0.2f, -0.3f, 0.1f}, {0.05f, -0.02f, 1.3f});
  const float X = 0.21f, Y = -0.13f, h = 1e-3f;
  TrackPoint point;
  float projected[2], camera[3], normalized[2], plus[2], minus[2];
  projectPlanePoint(pose, X, Y, 320, 240, 0, point.camera, point.normalized, projected);
  computeJacobians(point, 320);
  for (int j = 0; j < 6; ++j) {
    SixVector step;
    step[j] = h;
    projectPlanePoint(se3Exp(step) * pose, X, Y, 320, 240, 0, camera, normalized, plus);
    step[j] = -h;
    projectPlanePoint(se3Exp(step) * pose, X, Y, 320, 240, 0, camera, normalized, minus);
    const float* jacobian[2] = {point.jacobianU, point.jacobianV};
    for (int k = 0; k < 2; ++k) {
      EXPECT_NEAR(jacobian[k][j], (plus[k] - minus[k]) / (2 * h),
                  0.02f * (1 + std::fabs(jacobian[k][j])))
          << j << " " << k;
    }
  }
}

TEST(ComputeJacobians, VectorFormGivesThePlainBits) {
  Random random(12);
  for (int k = 0; k < 300; ++k) {
    TrackPoint fast, plain;
    for (int i = 0; i < 3; ++i) {
      fast.camera[i] = plain.camera[i] =
          (i == 2 ? 0.2f : -1.0f) + static_cast<float>(random.uniform(100001)) / 50000.0f;
    }
    const float focal = 40.0f + random.uniform(600);
    computeJacobians(fast, focal);
    computeJacobiansPlain(plain, focal);
    for (int j = 0; j < 6; ++j) {
      EXPECT_EQ(fast.jacobianU[j], plain.jacobianU[j]) << k << " " << j;
      EXPECT_EQ(fast.jacobianV[j], plain.jacobianV[j]) << k << " " << j;
    }
  }
}

// Found points with chosen errors (x, y, x, y, ...) and random Jacobians.
std::vector<TrackPoint> syntheticPoints(const std::vector<float>& errors) {
  Random random(7);
  std::vector<TrackPoint> points(errors.size() / 2);
  for (size_t i = 0; i < points.size(); ++i) {
    TrackPoint& p = points[i];
    p.isFound = true;
    p.projected[0] = 50.0f + i;
    p.projected[1] = 80.0f - i;
    p.found[0] = p.projected[0] + errors[2 * i];
    p.found[1] = p.projected[1] + errors[2 * i + 1];
    for (int j = 0; j < 6; ++j) {
      p.jacobianU[j] = (static_cast<float>(random.uniform(2001)) - 1000.0f) / 10.0f;
      p.jacobianV[j] = (static_cast<float>(random.uniform(2001)) - 1000.0f) / 10.0f;
    }
  }
  return points;
}

// Tukey weights (1 - e^2 / scale2)^2 of the found points and the update
// (100 I + J^T W J)^-1 J^T W e, in double.
Eigen::VectorXd referenceUpdate(const std::vector<TrackPoint>& points, double scale2,
                                std::vector<double>* weights) {
  Eigen::MatrixXd n = 100.0 * Eigen::MatrixXd::Identity(6, 6);
  Eigen::VectorXd v = Eigen::VectorXd::Zero(6);
  for (const TrackPoint& p : points) {
    const double ex = p.found[0] - p.projected[0], ey = p.found[1] - p.projected[1];
    const double t = ex * ex + ey * ey <= scale2 ? 1.0 - (ex * ex + ey * ey) / scale2 : 0.0;
    weights->push_back(p.isFound ? t * t : 0.0);
    using Map = Eigen::Map<const Eigen::Matrix<float, 6, 1>>;
    const Eigen::Matrix<double, 6, 1> ju = Map(p.jacobianU).cast<double>();
    const Eigen::Matrix<double, 6, 1> jv = Map(p.jacobianV).cast<double>();
    n += weights->back() * (ju * ju.transpose() + jv * jv.transpose());
    v += weights->back() * (ju * ex + jv * ey);
  }
  return n.ldlt().solve(v);
}

TEST(ComputePoseUpdate, TukeyWeightsAndSolutionMatchADirectSolve) {
  std::vector<float> ramp;
  for (int i = 0; i < 11; ++i) ramp.insert(ramp.end(), {0.1f * i, 0.0f});
  ramp.insert(ramp.end(), {4.0f, 3.0f});  // far outlier
  struct Case {
    const char* name;
    float fixedScale2;
    double scale2;
    int32_t inliers;
    std::vector<float> errors;
  };
  const std::vector<float> seven = {0.3f, -0.4f, 0.1f,  0.2f, -0.5f, 0.5f,  1.0f,
                                    0.5f, 0.0f,  -0.2f, 0.7f, 0.7f,  0.05f, 0.05f};
  const Case cases[] = {
      {"fixed scale: 1.25 > 1 gets weight 0", 1.0f, 1.0, 6, seven},
      // Twelve squared errors; the element at index 6 after sorting is 0.36.
      {"median with the small-sample factor", 0.0f, 0.36 * std::pow(1.4826 + 5.0 / 7.0, 2), 11,
       ramp},
      {"five points: infinite scale", 0.0f, INFINITY, 5, {0, 0, 3, 0, 0, 9, 0.1f, 0, 0, 0}},
  };
  ProgressiveTracking tracking;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto errors = c.errors;
    errors.insert(errors.begin() + 2, {0.2f, 0.1f});
    auto points = syntheticPoints(errors);
    points[1].isFound = false;  // ignored entirely
    std::vector<TrackPoint*> list;
    for (TrackPoint& p : points) list.push_back(&p);
    float mse = 0;
    int32_t inliers = 0;
    const SixVector update = tracking.computePoseUpdate(list, c.fixedScale2, &mse, &inliers);
    double sum = 0;
    for (float e : c.errors) sum += e * e;
    EXPECT_NEAR(mse, 2 * sum / c.errors.size(), 1e-6);
    EXPECT_EQ(inliers, c.inliers);
    std::vector<double> weights;
    const Eigen::VectorXd reference = referenceUpdate(points, c.scale2, &weights);
    for (size_t i = 0; i < points.size(); ++i) {
      if (!points[i].isFound) continue;
      EXPECT_NEAR(points[i].weight, weights[i], 1e-5) << i;
      EXPECT_EQ(points[i].inlier, weights[i] > 0) << i;
    }
    for (int j = 0; j < 6; ++j)
      EXPECT_NEAR(update[j], reference[j], 1e-3 * (1 + std::fabs(reference[j]))) << j;
  }
  // No found point: no mean error and no inlier.
  TrackPoint lost;
  float mse = 0;
  int32_t inliers = 1;
  tracking.computePoseUpdate({&lost}, 0.0f, &mse, &inliers);
  EXPECT_TRUE(std::isnan(mse));
  EXPECT_EQ(inliers, 0);
}

class TrackPhoto : public ::testing::Test {
 protected:
  void SetUp() override {
    target_ = loadGrayJpeg(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg");
    ASSERT_TRUE(target_);
    keyframe_ = photoKeyframe(*target_);
    ASSERT_TRUE(keyframe_);
    ASSERT_GT(keyframe_->trackPoints.size(), 100u);
  }
  std::unique_ptr<Frame> render(const Mat44f& pose, int width = 640) {
    return frameOf(renderPlane(*target_, pose, width, width * 3 / 4));
  }
  std::unique_ptr<GrayImage> target_;
  std::unique_ptr<Keyframe> keyframe_;
  ProgressiveTracking tracking_;
};

// A prediction off by several pixels and a few degrees is pulled in; fine
// positions from the previous frame are whole base-level pixels. Only 14
// corners, which can all be found, are too few: both variants fail and leave
// the pose alone.
TEST_F(TrackPhoto, KeyframeThenPreviousFrameFollowARealPhotoGivenFifteenPoints) {
  const Mat44f truth = viewPose({0.25f, -0.15f, 0.1f}, {0.03f, -0.02f, 1.7f});
  auto frame = render(truth);
  const Mat44f predicted = se3Exp(SixVector(0.015f, -0.01f, 0.04f, 0.02f, -0.03f, 0.03f)) * truth;
  ASSERT_GT(cornerDistance(predicted, truth), 8.0f);
  Mat44f pose, pose2;
  float error = -1;
  ASSERT_TRUE(tracking_.trackFromKeyframe(*keyframe_, *frame, predicted, &pose, &error));
  EXPECT_LT(cornerDistance(pose, truth), 1.0f);
  EXPECT_GE(error, 0.0f);
  EXPECT_LT(error, 0.5f);
  const Mat44f truth2 = se3Exp(SixVector(0.01f, 0.005f, -0.02f, 0.01f, 0.015f, -0.01f)) * truth;
  ASSERT_TRUE(tracking_.trackFromPreviousFrame(*keyframe_, *frame, pose, *render(truth2), pose,
                                               &pose2, &error));
  EXPECT_LT(cornerDistance(pose2, truth2), 2.0f);
  EXPECT_LT(error, 0.5f);

  keyframe_->corners.resize(14);
  keyframe_->buildTrackPoints();
  pose = Mat44f::identity();
  error = -1;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(tracking_.trackFromKeyframe(*keyframe_, *frame, truth, &pose, &error));
  EXPECT_FALSE(
      tracking_.trackFromPreviousFrame(*keyframe_, *frame, truth, *frame, truth, &pose, &error));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "fail due to small found count\nfail due to small found count\n");
  int found = 0;
  for (const TrackPoint& p : keyframe_->trackPoints) found += p.isFound;
  EXPECT_GE(found, 12);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(pose.m[i], Mat44f::identity().m[i]);
  EXPECT_EQ(error, -1.0f);
}

// A 320 x 240 frame has levels 0 to 2 and its base level is 0: points that
// would be searched one level below it are not in the image.
TEST_F(TrackPhoto, NoPointIsSearchedOnALevelTheFrameLacks) {
  // Turned away, so that the far side of the target falls below the base scale.
  const Mat44f pose = viewPose({0.0f, 0.8f, 0.0f}, {0.0f, 0.0f, 2.0f});
  auto frame = render(pose, 320);
  ASSERT_EQ(trackingBaseLevel(*frame), 0);
  Mat44f out;
  float error = 0;
  ::testing::internal::CaptureStdout();
  tracking_.trackFromKeyframe(*keyframe_, *frame, pose, &out, &error);
  ::testing::internal::GetCapturedStdout();
  int inImage = 0, searched = 0;
  for (const TrackPoint& p : keyframe_->trackPoints) {
    inImage += p.inImage;
    searched += p.searched;
    EXPECT_TRUE(!(p.inImage || p.searched) || frame->getLevel(p.searchLevel) != nullptr);
    EXPECT_TRUE(!p.searched || keyframe_->getLevel(p.sourceLevel) != nullptr);
  }
  EXPECT_LT(inImage, static_cast<int>(keyframe_->trackPoints.size()));
  EXPECT_GT(searched, 20);
}

// Keyframe of 17 well separated corners; the frame shows `good` of them where
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
    if (far && spread.size() < 17) spread.push_back(c);
  }
  ASSERT_EQ(spread.size(), 17u);
  keyframe_->corners = spread;
  keyframe_->buildTrackPoints();
  auto previous = frameOf(std::make_unique<GrayImage>(640, 480, clean->pixels.get()));
  const int shifts[4][2] = {{0, -12}, {12, 0}, {0, 12}, {-12, 0}};
  for (int good : {7, 8}) {
    auto image = std::make_unique<GrayImage>(640, 480, clean->pixels.get());
    for (int i = good; i < 17; ++i) {
      float camera[3], normalized[2], at[2];
      projectPlanePoint(truth, spread[i].X, spread[i].Y, 640, 480, 0, camera, normalized, at);
      for (int y = static_cast<int>(at[1]) - 24; y <= static_cast<int>(at[1]) + 24; ++y)
        for (int x = static_cast<int>(at[0]) - 24; x <= static_cast<int>(at[0]) + 24; ++x)
          image->pixels[y * 640 + x] = clean->at(x - shifts[i % 4][0], y - shifts[i % 4][1]);
    }
    ProgressiveTracking tracking;
    Mat44f pose = Mat44f::identity();
    float error = -1;
    ::testing::internal::CaptureStdout();
    const bool ok = tracking.trackFromPreviousFrame(
        *keyframe_, *previous, truth, *frameOf(std::move(image)), truth, &pose, &error);
    const std::string out = ::testing::internal::GetCapturedStdout();
    int found = 0, inliers = 0;
    for (const TrackPoint& p : keyframe_->trackPoints) {
      if (p.sourceLevel != trackingBaseLevel(*keyframe_) + 1) continue;  // coarse set only
      found += p.isFound;
      inliers += p.inlier;
    }
    EXPECT_GE(found, 15) << good;
    EXPECT_EQ(ok, good == 8) << out;
    if (good == 7) {
      EXPECT_EQ(out, "fail due to small inlier count\n");
      EXPECT_EQ(inliers, 7);
      EXPECT_EQ(pose.m[0], 1.0f);  // untouched
    } else {
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
  // Found flag, refinement and position of every point in the image after a
  // search of `keyframe` (the plain one when `refused` < 0).
  auto search = [&](Keyframe& keyframe, int subpixel, int refused, int* count) {
    prepareTrackPoints(keyframe, *frame, predicted);
    std::vector<TrackPoint*> points;
    for (TrackPoint& p : keyframe.trackPoints)
      if (p.inImage) points.push_back(&p);
    failNextThreadCreations(std::max(refused, 0));
    *count = refused < 0 ? searchPointsInKeyframe(keyframe, points, *frame, 15, subpixel)
                         : searchPointsInKeyframeThreaded(keyframe, points, *frame, 15, subpixel);
    std::vector<std::array<float, 4>> out;
    for (const TrackPoint* p : points)
      out.push_back({p->isFound ? 1.0f : 0.0f, p->refined ? 1.0f : 0.0f,
                     p->isFound ? p->found[0] : 0.0f, p->isFound ? p->found[1] : 0.0f});
    return out;
  };
  auto other = photoKeyframe(*target_);
  setLogSink([](const char*) {});  // the refused workers' complaint
  for (int subpixel : {5, 0}) {
    int expected = 0, count = 0;
    const auto single = search(*keyframe_, subpixel, -1, &expected);
    ASSERT_GT(single.size(), 60u);
    EXPECT_GT(expected, static_cast<int>(single.size()) / 2);
    for (int refused : {0, 1, 2, 3}) {
      SCOPED_TRACE(::testing::Message() << refused << " refused, sub-pixel " << subpixel);
      EXPECT_EQ(search(*other, subpixel, refused, &count), single);
      EXPECT_EQ(count, expected);
      // The search asked the thread layer for all three workers.
      EXPECT_TRUE(nextThreadStarts());
      failNextThreadCreations(0);
    }
  }
  setLogSink(nullptr);
}

}  // namespace
}  // namespace vornik
