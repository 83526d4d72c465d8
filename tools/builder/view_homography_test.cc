#include "builder/view_homography.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vornik {
namespace {

TEST(TargetToFrameHomography, AgreesWithTheToolkitProjection) {
  CameraModel camera;
  const int w = 512, h = 384;
  for (const ViewParams& v :
       {ViewParams{0, 0, 0, 0.5, 0, 0}, ViewParams{50, 30, 70, 0.3, 0.1, -0.2},
        ViewParams{20, 200, -150, 0.9, -0.05, 0.05}}) {
    const PoseMatrix pose = poseFromView(v, camera);
    const Homography hm = targetToFrameHomography(pose, w, h, camera);
    Homography inverse;
    ASSERT_TRUE(invertHomography(hm, &inverse));
    for (double x : {0.0, 100.5, 511.0}) {
      for (double y : {0.0, 200.0, 383.0}) {
        double u0, v0, u1, v1, bx, by;
        ASSERT_TRUE(projectTargetPixel(pose, w, h, camera, x, y, &u0, &v0));
        ASSERT_TRUE(applyHomography(hm, x, y, &u1, &v1));
        EXPECT_NEAR(u0, u1, 1e-6);
        EXPECT_NEAR(v0, v1, 1e-6);
        ASSERT_TRUE(applyHomography(inverse, u1, v1, &bx, &by));
        EXPECT_NEAR(bx, x, 1e-6);
        EXPECT_NEAR(by, y, 1e-6);
      }
    }
  }
}

}  // namespace
}  // namespace vornik
