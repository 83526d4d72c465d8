#include "common/synthetic_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace vornik {
namespace {

const CameraModel kVga{640, 480};

// 256 x 128 target whose blue byte is the column and green byte twice the
// row: any sampling position can be read back from the rendered colour.
Image gradientTarget() {
  Image image(256, 128, 3);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      image.row(y)[3 * x] = static_cast<uint8_t>(x);
      image.row(y)[3 * x + 1] = static_cast<uint8_t>(2 * y);
    }
  }
  return image;
}

RenderedView render(const Image& target, const PoseMatrix& pose, const ViewOptions& options) {
  RenderedView view;
  std::string error;
  EXPECT_TRUE(renderView(target, pose, options, &view, &error)) << error;
  return view;
}

// At 0.4 frame widths a 256-pixel target is rendered 1:1, its pixel (x, y)
// on frame pixel (x + 192, y + 176).
PoseMatrix oneToOnePose() { return poseFromView(ViewParams{0, 0, 0, 256.0 / 640.0, 0, 0}, kVga); }

TEST(SyntheticView, FrontalOneToOneViewCopiesTheTargetExactly) {
  const Image target = gradientTarget();
  Image expected(640, 480, 3, 128);
  for (int y = 0; y < 128; ++y) std::memcpy(expected.row(y + 176) + 3 * 192, target.row(y), 768);
  const RenderedView view = render(target, oneToOnePose(), ViewOptions());
  ASSERT_EQ(view.frame.width, 640);
  ASSERT_EQ(view.frame.height, 480);
  EXPECT_TRUE(view.frame.pixels == expected.pixels);
}

// Frame pixel back to target pixel by intersecting the viewing ray with the
// target plane, written independently of the renderer's homography.
void frameToTargetPixel(const PoseMatrix& p, int tw, int th, double u, double v, double* x,
                        double* y) {
  const double ray[3] = {(u - 320) / 640.0, (v - 240) / 640.0, 1.0};
  // Plane: points R (X, Y, 0) + t; its normal is R's third column.
  const double n[3] = {p[2], p[6], p[10]}, t[3] = {p[3], p[7], p[11]};
  const double s =
      (n[0] * t[0] + n[1] * t[1] + n[2] * t[2]) / (n[0] * ray[0] + n[1] * ray[1] + n[2] * ray[2]);
  double d[3];
  for (int i = 0; i < 3; ++i) d[i] = s * ray[i] - t[i];
  *x = (p[0] * d[0] + p[4] * d[1] + p[8] * d[2]) * tw + tw / 2;
  *y = th / 2 - (p[1] * d[0] + p[5] * d[1] + p[9] * d[2]) * tw;
}

TEST(SyntheticView, TiltedAndMagnifiedViewsSampleTheRightTargetPoint) {
  const Image target = gradientTarget();
  for (const ViewParams& params :
       {ViewParams{0, 0, 0, 0.8, 0, 0}, ViewParams{50, 0, 0, 0.5, 0, 0},
        ViewParams{60, 90, 20, 0.6, 0, 0}, ViewParams{35, 30, -40, 0.9, 0, 0}}) {
    const PoseMatrix pose = poseFromView(params, kVga);
    const RenderedView view = render(target, pose, ViewOptions());
    int checked = 0;
    for (int v = 0; v < 480; v += 3) {
      for (int u = 0; u < 640; u += 3) {
        double x = 0, y = 0;
        frameToTargetPixel(pose, 256, 128, u, v, &x, &y);
        // Away from the target edge the colour is linear in (x, y), so
        // bilinear sampling and supersampling both reproduce it.
        if (x < 2 || x > 253 || y < 2 || y > 125) continue;
        const uint8_t* p = view.frame.row(v) + 3 * u;
        ASSERT_NEAR(p[0], x, 1.0) << params.tiltDeg << " at " << u << "," << v;
        ASSERT_NEAR(p[1], 2 * y, 2.0) << params.tiltDeg << " at " << u << "," << v;
        ++checked;
      }
    }
    EXPECT_GT(checked, 300);
  }
}

TEST(SyntheticView, FarViewOfFineCheckerDoesNotAlias) {
  Image checker(512, 512, 1);
  for (size_t i = 0; i < checker.pixels.size(); ++i) checker.pixels[i] = ((i + i / 512) & 1) * 255;
  for (double tilt : {0.0, 55.0}) {
    // 64 frame pixels for 512 target pixels.
    const RenderedView view =
        render(checker, poseFromView(ViewParams{tilt, 0, 0, 0.1, 0, 0}, kVga), ViewOptions());
    // The rectangle inside the (trapezoid) image of the target.
    const auto& c = view.truth.corners;
    std::vector<double> values;
    for (int v = static_cast<int>(std::max(c[1], c[3])) + 3; v < std::min(c[5], c[7]) - 3; ++v) {
      for (int u = static_cast<int>(std::max(c[0], c[6])) + 3; u < std::min(c[2], c[4]) - 3; ++u)
        values.push_back(view.frame.row(v)[3 * u + 1]);
    }
    ASSERT_GT(values.size(), 100u);
    double sum = 0, sumSq = 0;
    for (double v : values) sum += v, sumSq += v * v;
    const double mean = sum / values.size();
    EXPECT_NEAR(mean, 127.5, 4.0) << tilt;
    EXPECT_LT(std::sqrt(sumSq / values.size() - mean * mean), 4.0) << tilt;
  }
}

TEST(SyntheticView, BackgroundPhotoIsScaledAndCentreCropped) {
  // 1000 x 200 photo whose blue byte grows with the column: covering a
  // 640 x 480 frame scales it by 2.4 and keeps the middle 266.7 columns.
  Image photo(1000, 200, 3);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 1000; ++x) photo.row(y)[3 * x] = static_cast<uint8_t>(x / 4);
  const Image fitted = fitBackground(photo, 640, 480);
  ASSERT_EQ(fitted.width, 640);
  ASSERT_EQ(fitted.height, 480);
  for (int u : {0, 100, 320, 639})
    EXPECT_NEAR(fitted.row(240)[3 * u], ((u + 0.5 - 320) / 2.4 + 499.5) / 4, 1.0) << u;
  ViewOptions options;
  options.background = &photo;
  const RenderedView view = render(Image(8, 8, 3, 0), oneToOnePose(), options);
  EXPECT_EQ(0, std::memcmp(view.frame.row(5), fitted.row(5), 640 * 3));
}

TEST(SyntheticView, GaussianBlurSpreadsAPointEvenlyAndKeepsItsLight) {
  // A 1 x 1 white target at 1:1 lights exactly frame pixel (320, 240).
  ViewOptions options;
  options.blur = BlurKind::kGaussian;
  options.blurRadius = 1.0;
  const RenderedView view = render(
      Image(1, 1, 3, 255), poseFromView(ViewParams{0, 0, 0, 1.0 / 640.0, 0, 0}, kVga), options);
  const auto at = [&](int du, int dv) { return view.frame.row(240 + dv)[3 * (320 + du)] - 128; };
  double light = 0;
  for (int dv = -4; dv <= 4; ++dv) {
    for (int du = -4; du <= 4; ++du) {
      light += at(du, dv);
      EXPECT_EQ(at(du, dv), at(-dv, du)) << du << "," << dv;  // the same after a quarter turn
    }
  }
  EXPECT_NEAR(light, 127, 4);
  EXPECT_LT(at(0, 0), 127 / 4);  // spread over more than a few pixels
}

TEST(SyntheticView, BadInputIsRefusedWithAReason) {
  const PoseMatrix pose = oneToOnePose();
  RenderedView view;
  std::string error;
  EXPECT_FALSE(renderView(Image(), pose, ViewOptions(), &view, &error));
  EXPECT_NE(error.find("target"), std::string::npos);
  Image target(4, 4, 3, 0);
  target.pixels.resize(5);
  EXPECT_FALSE(renderView(target, pose, ViewOptions(), &view, &error));
  target = Image(4, 4, 3, 0);
  PoseMatrix nan = pose;
  nan[3] = std::nan("");
  EXPECT_FALSE(renderView(target, nan, ViewOptions(), &view, &error));
  EXPECT_FALSE(renderView(target, pose, ViewOptions(), nullptr, &error));
  for (auto spoil :
       {+[](ViewOptions* o) { o->jpegQuality = 101; }, +[](ViewOptions* o) { o->camera.width = 0; },
        +[](ViewOptions* o) { o->noiseSigma = -1; }}) {
    ViewOptions options;
    spoil(&options);
    EXPECT_FALSE(renderView(target, pose, options, &view, &error));
  }

  // A target behind the camera renders as background only.
  PoseMatrix behind = pose;
  behind[11] = -2.5;
  ASSERT_TRUE(renderView(target, behind, ViewOptions(), &view, &error));
  EXPECT_EQ(view.frame.pixels, std::vector<uint8_t>(640 * 480 * 3, 128));
  EXPECT_FALSE(view.truth.fullyInView);
}

}  // namespace
}  // namespace vornik
