#include "common/view_geometry.h"

#include <cmath>

#include <gtest/gtest.h>

namespace vornik {
namespace {

constexpr double kPi = 3.14159265358979323846;
const CameraModel kVga{640, 480};

TEST(ViewGeometry, FrontalViewPutsCornersWherePinholeSays) {
  const PoseMatrix pose = poseFromView(ViewParams{0, 0, 0, 0.5, 0, 0}, kVga);
  // Upright and facing the camera: x kept, y and z flipped, 2 widths away.
  const PoseMatrix expected = {1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 2, 0, 0, 0, 1};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(pose[i], expected[i], 1e-12) << i;

  // Outer corners of a 512 x 512 target: 256.5 target pixels from the
  // centre, 640 * (256.5 / 512) / 2 = 160.3125 frame pixels.
  const FrameTruth truth = computeFrameTruth(pose, 512, 512, kVga);
  const double expectedCorners[8] = {159.6875, 79.6875,  479.6875, 79.6875,
                                     479.6875, 399.6875, 159.6875, 399.6875};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(truth.corners[i], expectedCorners[i], 1e-9) << i;
  EXPECT_TRUE(truth.fullyInView);

  // Odd sizes: the origin sits on the integer half (W/2 = 2 for W = 5).
  double u = 0, v = 0;
  ASSERT_TRUE(projectTargetPixel(pose, 5, 3, kVga, 2.0, 1.0, &u, &v));
  EXPECT_DOUBLE_EQ(u, 320.0);
  EXPECT_DOUBLE_EQ(v, 240.0);
}

TEST(ViewGeometry, TiltForeshortensAlongItsDirection) {
  const double tilt = 60.0 * kPi / 180.0;
  const double depth = 2.0;
  for (double direction : {0.0, 90.0}) {
    const PoseMatrix pose = poseFromView(ViewParams{60, direction, 0, 1 / depth, 0, 0}, kVga);
    // Independent model: a plane point at distance s from the centre along
    // the tilt direction lands at s cos(tilt) across, and s sin(tilt) nearer.
    for (double s : {-0.5, -0.25, 0.25, 0.5}) {
      const double across = 640.0 * s * std::cos(tilt) / (depth - s * std::sin(tilt));
      // Image y runs down the frame, i.e. along the 90 degree direction.
      const double alongX = direction == 0.0 ? 1 : 0;
      double u = 0, v = 0;
      ASSERT_TRUE(projectTargetPixel(pose, 512, 512, kVga, 256 + 512 * s * alongX,
                                     256 + 512 * s * (1 - alongX), &u, &v));
      EXPECT_NEAR(u, 320 + across * alongX, 1e-9) << s;
      EXPECT_NEAR(v, 240 + across * (1 - alongX), 1e-9) << s;
    }
  }
}

TEST(ViewGeometry, InViewFlagNeedsAllCornersInside) {
  ViewParams view;
  view.widthFraction = 0.5;
  view.offsetX = 0.3;  // right edge at 320 + 192 + 160 > 640
  EXPECT_FALSE(computeFrameTruth(poseFromView(view, kVga), 512, 512, kVga).fullyInView);
  view.offsetX = 0.2;
  EXPECT_TRUE(computeFrameTruth(poseFromView(view, kVga), 512, 512, kVga).fullyInView);
  // Behind the camera: see the synthetic-view refusals.
}

}  // namespace
}  // namespace vornik
