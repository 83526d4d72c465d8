#include "builder/training_renderer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/synthetic_view.h"

namespace vornik {
namespace {

// The training renderer and its homography against the toolkit's projection
// and renderer, near frontal, tilted and far (the far view uses the mip levels).
TEST(TrainingRenderer, AgreesWithTheToolkitProjectionAndRenderer) {
  Image target;
  std::string error;
  ASSERT_TRUE(readImage(VORNIK_DATA_DIR "/sample_target.jpg", &target, &error)) << error;
  target = toGray(target);
  const CameraModel camera;
  TrainingRenderer renderer(target, camera.width, camera.height);
  for (const ViewParams& p : {ViewParams{0, 0, 0, 0.7, 0, 0}, ViewParams{50, 120, 30, 0.5, 0, 0},
                              ViewParams{20, 0, -60, 0.18, 0.1, 0.1}}) {
    SCOPED_TRACE(p.tiltDeg);
    const PoseMatrix pose = poseFromView(p, camera);
    const Homography toFrame = targetToFrameHomography(pose, target.width, target.height, camera);
    Homography toTarget;
    ASSERT_TRUE(invertHomography(toFrame, &toTarget));
    for (double x : {0.0, 100.5, target.width - 1.0}) {
      for (double y : {0.0, 200.0, target.height - 1.0}) {
        double u0, v0, u1, v1, bx, by;
        ASSERT_TRUE(projectTargetPixel(pose, target.width, target.height, camera, x, y, &u0, &v0));
        ASSERT_TRUE(applyHomography(toFrame, x, y, &u1, &v1));
        ASSERT_TRUE(applyHomography(toTarget, u1, v1, &bx, &by));
        EXPECT_NEAR(u0, u1, 1e-6);
        EXPECT_NEAR(v0, v1, 1e-6);
        EXPECT_NEAR(bx, x, 1e-6);
        EXPECT_NEAR(by, y, 1e-6);
      }
    }

    Image ours;
    renderer.render(toTarget, nullptr, TrainingEffects(), &ours);
    RenderedView reference;
    ASSERT_TRUE(renderView(target, pose, ViewOptions(), &reference, &error)) << error;
    const Image theirs = toGray(reference.frame);
    // Only frame pixels well inside the target: edges are antialiased differently.
    double sum = 0.0;
    int pixels = 0;
    for (int v = 0; v < camera.height; ++v) {
      for (int u = 0; u < camera.width; ++u) {
        double x, y;
        if (!applyHomography(toTarget, u, v, &x, &y)) continue;
        if (x < 4 || y < 4 || x > target.width - 5 || y > target.height - 5) continue;
        sum += std::abs(ours.row(v)[u] - theirs.row(v)[u]);
        ++pixels;
      }
    }
    ASSERT_GT(pixels, 1000);
    EXPECT_LT(sum / pixels, 3.0);
  }
}

}  // namespace
}  // namespace vornik
