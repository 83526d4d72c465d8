#include "builder/training_renderer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/synthetic_view.h"

namespace vornik {
namespace {

Image sampleGrey() {
  Image image;
  std::string error;
  EXPECT_TRUE(readImage(VORNIK_DATA_DIR "/sample_target.jpg", &image, &error)) << error;
  return toGray(image);
}

struct Difference {
  double mean = 0.0;
  int pixels = 0;
};

// Compares the two renderers over the frame pixels that lie well inside
// the target (edges are antialiased differently).
Difference compareWithToolkit(const Image& target, const ViewParams& params) {
  CameraModel camera;
  const PoseMatrix pose = poseFromView(params, camera);
  const Homography toFrame = targetToFrameHomography(pose, target.width, target.height, camera);
  Homography toTarget;
  EXPECT_TRUE(invertHomography(toFrame, &toTarget));
  TrainingRenderer renderer(target, camera.width, camera.height);
  Image ours;
  renderer.render(toTarget, nullptr, TrainingEffects(), &ours);

  ViewOptions options;
  options.camera = camera;
  RenderedView reference;
  std::string error;
  EXPECT_TRUE(renderView(target, pose, options, &reference, &error)) << error;
  const Image theirs = toGray(reference.frame);

  Difference d;
  double sum = 0.0;
  for (int v = 0; v < camera.height; ++v) {
    for (int u = 0; u < camera.width; ++u) {
      double x, y;
      if (!applyHomography(toTarget, u, v, &x, &y)) continue;
      if (x < 4 || y < 4 || x > target.width - 5 || y > target.height - 5) continue;
      sum += std::abs(ours.row(v)[u] - theirs.row(v)[u]);
      ++d.pixels;
    }
  }
  d.mean = d.pixels > 0 ? sum / d.pixels : 1e9;
  return d;
}

TEST(TrainingRenderer, AgreesWithTheToolkitRenderer) {
  const Image target = sampleGrey();
  // Near frontal, tilted and far: the far one exercises the mip levels.
  for (const ViewParams& p : {ViewParams{0, 0, 0, 0.7, 0, 0}, ViewParams{50, 120, 30, 0.5, 0, 0},
                              ViewParams{20, 0, -60, 0.18, 0.1, 0.1}}) {
    const Difference d = compareWithToolkit(target, p);
    EXPECT_GT(d.pixels, 1000);
    EXPECT_LT(d.mean, 3.0) << "tilt " << p.tiltDeg << " width " << p.widthFraction;
  }
}

TEST(TrainingRenderer, AppliesContrastBrightnessAndSeededNoise) {
  const Image target(200, 200, 1, 0);
  CameraModel camera;
  // The target far off to the side: the frame is background only.
  const PoseMatrix pose = poseFromView(ViewParams{0, 0, 0, 0.2, 3.0, 3.0}, camera);
  Homography toTarget;
  ASSERT_TRUE(invertHomography(targetToFrameHomography(pose, 200, 200, camera), &toTarget));
  TrainingRenderer renderer(target, camera.width, camera.height);

  TrainingEffects effects;
  effects.contrast = 0.5;
  effects.brightness = 20.0;
  Image flat;
  renderer.render(toTarget, nullptr, effects, &flat);
  for (uint8_t v : flat.pixels) ASSERT_EQ(v, 148);  // (128 - 128) * 0.5 + 128 + 20

  effects = TrainingEffects();
  effects.noiseSigma = 6.0;
  effects.seed = 9;
  Image a, b, c;
  renderer.render(toTarget, nullptr, effects, &a);
  renderer.render(toTarget, nullptr, effects, &b);
  effects.seed = 10;
  renderer.render(toTarget, nullptr, effects, &c);
  EXPECT_EQ(a.pixels, b.pixels);
  EXPECT_NE(a.pixels, c.pixels);
  double sum = 0.0, sum2 = 0.0;
  for (uint8_t v : a.pixels) {
    sum += v;
    sum2 += static_cast<double>(v) * v;
  }
  const double n = static_cast<double>(a.pixels.size());
  const double mean = sum / n;
  EXPECT_NEAR(mean, 128.0, 0.2);
  EXPECT_NEAR(std::sqrt(sum2 / n - mean * mean), 6.0, 0.3);
}

}  // namespace
}  // namespace vornik
