#include "play_metrics.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/view_geometry.h"
#include "overlay.h"

namespace vornik {
namespace {

// The pose as the library hands it out: column-major, translation scaled
// from target widths to target pixels.
void toResultPose(const PoseMatrix& pose, int targetWidth, float out[16]) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) out[4 * c + r] = static_cast<float>(pose[4 * r + c]);
  }
  for (int r = 0; r < 3; ++r) out[12 + r] *= static_cast<float>(targetWidth);
}

TEST(PlayMetricsTest, ProjectedCornersMatchTheToolkitGroundTruth) {
  struct Case {
    int targetWidth, targetHeight;
    CameraModel camera;
    ViewParams view;
  };
  const Case cases[] = {
      {640, 427, {640, 480}, {0, 0, 0, 0.5, 0, 0}},
      {641, 399, {640, 480}, {35, 20, 10, 0.6, 0.05, -0.03}},
      {300, 500, {321, 241}, {50, 200, -30, 0.4, -0.1, 0.1}},
      {512, 512, {1280, 720}, {20, 90, 180, 0.9, 0, 0}},
  };
  for (const Case& c : cases) {
    const PoseMatrix pose = poseFromView(c.view, c.camera);
    const FrameTruth truth = computeFrameTruth(pose, c.targetWidth, c.targetHeight, c.camera);
    float resultPose[16];
    toResultPose(pose, c.targetWidth, resultPose);
    std::array<double, 8> corners{};
    ASSERT_TRUE(projectTargetCorners(resultPose, c.targetWidth, c.targetHeight, c.camera.width,
                                     c.camera.height, &corners));
    // Float pose elements: a few thousandths of a pixel.
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(corners[i], truth.corners[i], 0.01) << i;
  }
  const float behind[16] = {1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0, 0, 0, -100, 1};
  std::array<double, 8> corners{};
  EXPECT_FALSE(projectTargetCorners(behind, 100, 100, 640, 480, &corners));
}

FrameEvaluation frame(bool inView, bool posed, double error) {
  FrameEvaluation f;
  f.inView = inView;
  f.posed = posed;
  f.error = error;
  f.truthPose[0] = inView ? 1.0 : 0.0;
  return f;
}

TEST(PlayMetricsTest, SummaryCountsShareMeanAndReacquisition) {
  // In view, lost, back after two frames out, re-acquired on the second.
  const std::vector<FrameEvaluation> frames = {
      frame(true, false, 0),  frame(true, true, 1.0), frame(true, true, 7.0),
      frame(false, true, 50), frame(false, false, 0), frame(true, false, 0),
      frame(true, true, 9.0), frame(true, true, 2.0), frame(true, true, 3.0)};
  const EvaluationSummary s = summarise(frames);
  EXPECT_EQ(s.frames, 9);
  EXPECT_EQ(s.inViewFrames, 7);
  EXPECT_EQ(s.posedInView, 5);
  EXPECT_EQ(s.withinGood, 3);
  EXPECT_DOUBLE_EQ(s.shareWithinGood, 3.0 / 7.0);
  EXPECT_DOUBLE_EQ(s.meanError, (1.0 + 7.0 + 9.0 + 2.0 + 3.0) / 5.0);
  EXPECT_EQ(s.returnFrame, 5);
  EXPECT_EQ(s.reacquireFrames, 2);
  EXPECT_FALSE(s.staticView);

  const EvaluationSummary never =
      summarise({frame(true, true, 1), frame(false, false, 0), frame(true, false, 0)});
  EXPECT_EQ(never.returnFrame, 2);
  EXPECT_EQ(never.reacquireFrames, -2);
  EXPECT_EQ(summarise({frame(true, true, 1), frame(true, true, 1)}).reacquireFrames, -1);
}

TEST(OverlayTest, DrawingStaysInsideTheImage) {
  Image image(40, 30, 3);
  drawLine(&image, -1e9, -5, 1e9, 20, Bgr{1, 2, 3}, 3);
  drawLine(&image, NAN, 0, 5, 5, Bgr{9, 9, 9}, 1);
  drawText(&image, 35, 25, "TRACKED 12.5 PX", Bgr{255, 255, 255}, 2);
  // The line crosses the image: some of its pixels landed.
  int colored = 0;
  for (size_t i = 0; i + 2 < image.pixels.size(); i += 3) {
    colored += image.pixels[i] == 1 && image.pixels[i + 1] == 2 && image.pixels[i + 2] == 3;
  }
  EXPECT_GT(colored, 40);
}

}  // namespace
}  // namespace vornik
