#include "common/camera_simulation.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vornik {
namespace {

// Every effect off: only the supersampled projection remains.
CameraEffects plain() {
  CameraEffects e;
  e.bayer = false;
  return e;
}

double meanLevel(const Image& frame, int x0, int y0, int x1, int y1, double* deviation) {
  double sum = 0, squares = 0;
  int n = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const double v = frame.row(y)[x * 3 + 1];
      sum += v;
      squares += v * v;
      ++n;
    }
  }
  const double mean = sum / n;
  if (deviation != nullptr) *deviation = std::sqrt(std::max(0.0, squares / n - mean * mean));
  return mean;
}

Image readSample() {
  Image image;
  std::string error;
  EXPECT_TRUE(readImage(VORNIK_DATA_DIR "/sample_target.jpg", &image, &error)) << error;
  return image;
}

// Two renderers written apart agree on where the target is and what it
// shows: the toolkit's renderView and this one, both without effects.
TEST(CameraSimulation, ProjectionAgreesWithTheToolkitRenderer) {
  const Image target = readSample();
  const CameraModel camera;
  for (double tilt : {0.0, 45.0}) {
    ViewParams params;
    params.widthFraction = 0.6;
    params.tiltDeg = tilt;
    params.rotationDeg = 20.0;
    const PoseMatrix pose = poseFromView(params, camera);
    RenderedView ours, theirs;
    std::string error;
    ASSERT_TRUE(renderCameraView(&target, pose, plain(), &ours, &error)) << error;
    ASSERT_TRUE(renderView(target, pose, ViewOptions(), &theirs, &error)) << error;
    for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(ours.truth.corners[i], theirs.truth.corners[i]);
    double difference = 0;
    for (size_t i = 0; i < ours.frame.pixels.size(); ++i) {
      difference += std::abs(ours.frame.pixels[i] - theirs.frame.pixels[i]);
    }
    EXPECT_LT(difference / ours.frame.pixels.size(), 3.0) << "tilt " << tilt;
  }
}

// A checkerboard of one-pixel squares seen 4x minified integrates to an
// even level; point sampling would show moire.
TEST(CameraSimulation, MinifiedDetailIsAreaAveraged) {
  Image board(512, 512, 1);
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) board.row(y)[x] = (x + y) % 2 ? 255 : 0;
  ViewParams params;
  params.widthFraction = 0.2;  // 128 frame pixels for 512 target pixels
  RenderedView view;
  std::string error;
  ASSERT_TRUE(
      renderCameraView(&board, poseFromView(params, CameraModel()), plain(), &view, &error));
  double deviation = 0;
  const double mean = meanLevel(view.frame, 280, 200, 360, 280, &deviation);
  EXPECT_NEAR(mean, 255.0 * std::pow(0.5, 1 / 2.2), 6.0);  // mean light, gamma encoded
  EXPECT_LT(deviation, 4.0);
}

// A bright dot lands where r_d = r (1 + k1 r^2) puts it.
TEST(CameraSimulation, RadialDistortionMovesPointsAsTheLensModelSays) {
  Image dot(401, 401, 1, 0);
  for (int y = 0; y < 401; ++y)
    for (int x = 0; x < 401; ++x)
      if (std::hypot(x - 300, y - 300) <= 3.0) dot.row(y)[x] = 255;
  const CameraModel camera;
  ViewParams params;
  params.widthFraction = 0.8;
  const PoseMatrix pose = poseFromView(params, camera);
  // Pinhole position of the dot centre.
  double u, v;
  ASSERT_TRUE(projectTargetPixel(pose, 401, 401, camera, 300, 300, &u, &v));
  for (double k1 : {0.05, -0.05}) {
    const Image black(64, 64, 1, 0);
    CameraEffects e = plain();
    e.background = &black;
    e.radialK1 = k1;
    RenderedView view;
    std::string error;
    ASSERT_TRUE(renderCameraView(&dot, pose, e, &view, &error)) << error;
    double sx = 0, sy = 0, sw = 0;
    for (int y = 0; y < camera.height; ++y) {
      for (int x = 0; x < camera.width; ++x) {
        const double w = view.frame.row(y)[x * 3 + 1];
        if (w < 20) continue;
        sx += w * x;
        sy += w * y;
        sw += w;
      }
    }
    ASSERT_GT(sw, 0);
    const double rx = (u - camera.cx()) / camera.focal(), ry = (v - camera.cy()) / camera.focal();
    const double grow = 1 + k1 * (rx * rx + ry * ry);
    EXPECT_NEAR(sx / sw, camera.cx() + rx * grow * camera.focal(), 0.5) << k1;
    EXPECT_NEAR(sy / sw, camera.cy() + ry * grow * camera.focal(), 0.5) << k1;
  }
}

// Sensor noise grows with the signal; demosaic keeps a flat colour; the
// same seed gives the same frame.
TEST(CameraSimulation, SensorNoiseFollowsTheSignalAndDemosaicKeepsFlatColour) {
  const CameraModel camera;
  ViewParams params;
  params.widthFraction = 1.5;  // fills the frame
  const PoseMatrix pose = poseFromView(params, camera);
  for (uint8_t level : {40, 200}) {
    Image flat(300, 300, 1, level);
    CameraEffects e = plain();
    e.readNoise = 2.0;
    e.shotNoise = 0.5;
    e.seed = 5;
    RenderedView view, again;
    std::string error;
    ASSERT_TRUE(renderCameraView(&flat, pose, e, &view, &error)) << error;
    ASSERT_TRUE(renderCameraView(&flat, pose, e, &again, &error)) << error;
    EXPECT_EQ(view.frame.pixels, again.frame.pixels);
    double deviation = 0;
    const double mean = meanLevel(view.frame, 100, 100, 500, 380, &deviation);
    EXPECT_NEAR(mean, level, 1.0);
    EXPECT_NEAR(deviation * deviation, 4.0 + 0.5 * level, 0.15 * (4.0 + 0.5 * level));
  }
  Image colour(300, 300, 3);
  for (size_t i = 0; i < colour.pixels.size(); i += 3) {
    colour.pixels[i] = 40;
    colour.pixels[i + 1] = 120;
    colour.pixels[i + 2] = 220;
  }
  CameraEffects e = plain();
  e.bayer = true;
  RenderedView view;
  std::string error;
  ASSERT_TRUE(renderCameraView(&colour, pose, e, &view, &error)) << error;
  for (int c = 0; c < 3; ++c) {
    for (int y = 100; y < 380; y += 37) {
      for (int x = 100; x < 540; x += 41) {
        EXPECT_NEAR(view.frame.row(y)[x * 3 + c], colour.pixels[c], 2) << c;
      }
    }
  }
}

TEST(CameraSimulation, BadInputIsRefusedWithAReason) {
  const Image target(64, 64, 1, 128);
  const Image empty;
  const PoseMatrix pose = poseFromView(ViewParams(), CameraModel());
  struct Case {
    const char* name;
    const Image* target;
    CameraEffects effects;
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, auto change, const Image* t = nullptr) {
    Case c{name, t != nullptr ? t : &target, CameraEffects()};
    change(c.effects);
    cases.push_back(c);
  };
  add(
      "empty target", [](CameraEffects&) {}, &empty);
  add("supersampling 0", [](CameraEffects& e) { e.supersampling = 0; });
  add("tiny frame", [](CameraEffects& e) { e.camera.width = 8; });
  add("negative blur", [](CameraEffects& e) { e.defocusSigma = -1; });
  add("JPEG 101", [](CameraEffects& e) { e.jpegQuality = 101; });
  add("NaN exposure", [](CameraEffects& e) { e.exposure = std::nan(""); });
  add("empty background", [&](CameraEffects& e) { e.background = &empty; });
  for (const Case& c : cases) {
    RenderedView view;
    std::string error;
    EXPECT_FALSE(renderCameraView(c.target, pose, c.effects, &view, &error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

}  // namespace
}  // namespace vornik
