#include "builder/training_renderer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/synthetic_view.h"

namespace vornik {
namespace {

TEST(TrainingRenderer, AgreesWithTheToolkitRenderer) {
  Image target;
  std::string error;
  ASSERT_TRUE(readImage(VORNIK_DATA_DIR "/sample_target.jpg", &target, &error)) << error;
  target = toGray(target);
  const CameraModel camera;
  TrainingRenderer renderer(target, camera.width, camera.height);
  // Near frontal, tilted and far: the far one exercises the mip levels.
  for (const ViewParams& p : {ViewParams{0, 0, 0, 0.7, 0, 0}, ViewParams{50, 120, 30, 0.5, 0, 0},
                              ViewParams{20, 0, -60, 0.18, 0.1, 0.1}}) {
    const PoseMatrix pose = poseFromView(p, camera);
    Homography toTarget;
    ASSERT_TRUE(invertHomography(targetToFrameHomography(pose, target.width, target.height, camera),
                                 &toTarget));
    Image ours;
    renderer.render(toTarget, nullptr, TrainingEffects(), &ours);
    RenderedView reference;
    ASSERT_TRUE(renderView(target, pose, ViewOptions(), &reference, &error)) << error;
    const Image theirs = toGray(reference.frame);
    // Over the frame pixels well inside the target: edges are antialiased
    // differently.
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
    EXPECT_LT(sum / pixels, 3.0) << "tilt " << p.tiltDeg << " width " << p.widthFraction;
  }
}

}  // namespace
}  // namespace vornik
