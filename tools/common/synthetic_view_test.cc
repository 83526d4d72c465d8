#include "common/synthetic_view.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace vornik {
namespace {

const CameraModel kVga{640, 480};

// 256 x 128 target whose blue byte is the column and green byte twice the
// row: any sampling position can be read back from the rendered colour.
Image gradientTarget() {
  Image image(256, 128, 3);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      uint8_t* p = image.row(y) + 3 * x;
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(2 * y);
      p[2] = 0;
    }
  }
  return image;
}

Image flatTarget(int w, int h, uint8_t value) { return Image(w, h, 3, value); }

RenderedView render(const Image& target, const PoseMatrix& pose, const ViewOptions& options) {
  RenderedView view;
  std::string error;
  EXPECT_TRUE(renderView(target, pose, options, &view, &error)) << error;
  return view;
}

// At 0.4 frame widths a 256-pixel target is rendered 1:1, its pixel (x, y)
// on frame pixel (x + 192, y + 176).
PoseMatrix oneToOnePose() {
  ViewParams view;
  view.widthFraction = 256.0 / 640.0;
  return poseFromView(view, kVga);
}

TEST(SyntheticView, FrontalOneToOneViewCopiesTheTargetExactly) {
  const Image target = gradientTarget();
  ViewOptions options;
  const RenderedView view = render(target, oneToOnePose(), options);
  ASSERT_EQ(view.frame.width, 640);
  ASSERT_EQ(view.frame.height, 480);
  ASSERT_EQ(view.frame.channels, 3);
  int mismatches = 0;
  for (int v = 0; v < 480; ++v) {
    for (int u = 0; u < 640; ++u) {
      const uint8_t* p = view.frame.row(v) + 3 * u;
      const int x = u - 192, y = v - 176;
      const bool inside = x >= 0 && x < 256 && y >= 0 && y < 128;
      const uint8_t* expected = inside ? target.row(y) + 3 * x : nullptr;
      for (int k = 0; k < 3; ++k) {
        if (p[k] != (inside ? expected[k] : 128)) ++mismatches;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  const double corners[8] = {191.5, 175.5, 447.5, 175.5, 447.5, 303.5, 191.5, 303.5};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(view.truth.corners[i], corners[i], 1e-9) << i;
  EXPECT_TRUE(view.truth.fullyInView);
}

TEST(SyntheticView, RealPhotoAtOneToOneMatchesTheDecodedPixels) {
  Image photo;
  std::string error;
  ASSERT_TRUE(readImage(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg", &photo, &error))
      << error;
  ViewParams frontal;
  frontal.widthFraction = 512.0 / 640.0;
  const RenderedView view = render(photo, poseFromView(frontal, kVga), ViewOptions());
  // 512 x 512 at 1:1, centre (256, 256) on (320, 240): rows 0..15 and
  // 464..479 of the frame cut the target.
  for (int v = 0; v < 480; v += 7) {
    for (int u = 64; u < 576; u += 5) {
      const uint8_t* got = view.frame.row(v) + 3 * u;
      const uint8_t* want = photo.row(v + 16) + 3 * (u - 64);
      ASSERT_EQ(0, std::memcmp(got, want, 3)) << u << "," << v;
    }
  }
  EXPECT_FALSE(view.truth.fullyInView);
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
  const double planeX = p[0] * d[0] + p[4] * d[1] + p[8] * d[2];
  const double planeY = p[1] * d[0] + p[5] * d[1] + p[9] * d[2];
  *x = planeX * tw + tw / 2;
  *y = th / 2 - planeY * tw;
}

TEST(SyntheticView, TiltedAndMagnifiedViewsSampleTheRightTargetPoint) {
  const Image target = gradientTarget();
  struct Case {
    double tilt, direction, rotation, width;
  };
  const Case cases[] = {{0, 0, 0, 0.8}, {50, 0, 0, 0.5}, {60, 90, 20, 0.6}, {35, 30, -40, 0.9}};
  for (const Case& c : cases) {
    ViewParams params;
    params.tiltDeg = c.tilt;
    params.tiltDirectionDeg = c.direction;
    params.rotationDeg = c.rotation;
    params.widthFraction = c.width;
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
        ASSERT_NEAR(p[0], x, 1.0) << c.tilt << " at " << u << "," << v;
        ASSERT_NEAR(p[1], 2 * y, 2.0) << c.tilt << " at " << u << "," << v;
        ++checked;
      }
    }
    EXPECT_GT(checked, 300);
  }
}

TEST(SyntheticView, TiltedTargetShowsTheForeshortenedWidth) {
  // Black target on the grey background: its extent along the middle row is
  // the foreshortened width.
  const Image target = flatTarget(512, 512, 0);
  ViewParams params;
  params.tiltDeg = 60.0;
  params.widthFraction = 0.5;
  const PoseMatrix pose = poseFromView(params, kVga);
  const RenderedView view = render(target, pose, ViewOptions());
  const uint8_t* row = view.frame.row(240);
  int first = -1, last = -1;
  for (int u = 0; u < 640; ++u) {
    if (row[3 * u] < 64) {
      if (first < 0) first = u;
      last = u;
    }
  }
  double left = 0, right = 0, v = 0;
  ASSERT_TRUE(projectTargetPixel(pose, 512, 512, kVga, -0.5, 256, &left, &v));
  ASSERT_TRUE(projectTargetPixel(pose, 512, 512, kVga, 511.5, 256, &right, &v));
  // Edge pixels are half covered; the first and last dark ones lie within a
  // pixel and a half of the projected edges.
  EXPECT_NEAR(first, left, 1.5);
  EXPECT_NEAR(last, right, 1.5);
  // Much narrower than the frontal 320 pixels; the near (right) side larger.
  EXPECT_NEAR(last - first, 320 * 0.5, 12.0);
  EXPECT_GT(view.truth.corners[5] - view.truth.corners[3],
            view.truth.corners[7] - view.truth.corners[1]);
}

TEST(SyntheticView, FarViewOfFineCheckerDoesNotAlias) {
  Image checker(512, 512, 1);
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) checker.row(y)[x] = ((x + y) & 1) ? 255 : 0;
  for (double tilt : {0.0, 55.0}) {
    ViewParams params;
    params.tiltDeg = tilt;
    params.widthFraction = 0.1;  // 64 frame pixels for 512 target pixels
    const RenderedView view = render(checker, poseFromView(params, kVga), ViewOptions());
    const FrameTruth& truth = view.truth;
    double sum = 0, sumSq = 0;
    int count = 0;
    // The rectangle inside the (trapezoid) image of the target.
    const int top = static_cast<int>(std::max(truth.corners[1], truth.corners[3])) + 3;
    const int bottom = static_cast<int>(std::min(truth.corners[5], truth.corners[7])) - 3;
    const int left = static_cast<int>(std::max(truth.corners[0], truth.corners[6])) + 3;
    const int right = static_cast<int>(std::min(truth.corners[2], truth.corners[4])) - 3;
    for (int v = top; v < bottom; ++v) {
      for (int u = left; u < right; ++u) {
        const double value = view.frame.row(v)[3 * u + 1];
        sum += value;
        sumSq += value * value;
        ++count;
      }
    }
    ASSERT_GT(count, 100);
    const double mean = sum / count, spread = std::sqrt(sumSq / count - mean * mean);
    EXPECT_NEAR(mean, 127.5, 4.0) << tilt;
    EXPECT_LT(spread, 4.0) << tilt;
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
  // Frame column u shows photo column (u + 0.5 - 320) / 2.4 + 500 - 0.5.
  for (int u : {0, 100, 320, 639}) {
    const double x = (u + 0.5 - 320) / 2.4 + 499.5;
    EXPECT_NEAR(fitted.row(240)[3 * u], x / 4, 1.0) << u;
  }
  ViewOptions options;
  options.background = &photo;
  const RenderedView view = render(flatTarget(8, 8, 0), oneToOnePose(), options);
  EXPECT_EQ(0, std::memcmp(view.frame.row(5), fitted.row(5), 640 * 3));
}

TEST(SyntheticView, ContrastBrightnessAndBoxBlurGiveExactValues) {
  ViewOptions options;
  options.contrast = 2.0;
  options.brightness = 10.0;
  // Target value 100 covers frame columns 192..447 of rows 176..303.
  RenderedView view = render(flatTarget(256, 128, 100), oneToOnePose(), options);
  EXPECT_EQ(view.frame.row(240)[3 * 300], (100 - 128) * 2 + 128 + 10);
  EXPECT_EQ(view.frame.row(240)[3 * 10], 138);

  ViewOptions blurred;
  blurred.blur = BlurKind::kBox;
  blurred.blurRadius = 2.0;
  view = render(flatTarget(256, 128, 0), oneToOnePose(), blurred);
  // A 5-wide window crossing the 128 -> 0 step at column 192.
  const int expected[6] = {128, 102, 77, 51, 26, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(view.frame.row(240)[3 * (189 + i)], expected[i]) << i;
}

TEST(SyntheticView, GaussianBlurSpreadsAPointByTheNormalKernel) {
  // A 1 x 1 white target at 1:1 lights exactly frame pixel (320, 240).
  ViewParams params;
  params.widthFraction = 1.0 / 640.0;
  ViewOptions options;
  options.blur = BlurKind::kGaussian;
  options.blurRadius = 1.0;
  const RenderedView view = render(flatTarget(1, 1, 255), poseFromView(params, kVga), options);
  double norm = 0;
  for (int d = -3; d <= 3; ++d) norm += std::exp(-0.5 * d * d);
  for (int dy = -3; dy <= 3; ++dy) {
    for (int dx = -3; dx <= 3; ++dx) {
      const double weight = std::exp(-0.5 * (dx * dx + dy * dy)) / (norm * norm);
      EXPECT_NEAR(view.frame.row(240 + dy)[3 * (320 + dx)], 128 + 127 * weight, 0.51)
          << dx << "," << dy;
    }
  }
  EXPECT_EQ(view.frame.row(240)[3 * 324], 128);
}

TEST(SyntheticView, NoiseHasTheRequestedSigmaAndFollowsTheSeed) {
  ViewOptions options;
  options.noiseSigma = 6.0;
  options.seed = 7;
  const Image target = flatTarget(16, 16, 128);
  const RenderedView a = render(target, oneToOnePose(), options);
  const RenderedView b = render(target, oneToOnePose(), options);
  EXPECT_EQ(a.frame.pixels, b.frame.pixels);
  double sum = 0, sumSq = 0;
  for (uint8_t value : a.frame.pixels) {
    sum += value;
    sumSq += static_cast<double>(value) * value;
  }
  const double n = static_cast<double>(a.frame.pixels.size());
  const double mean = sum / n;
  EXPECT_NEAR(mean, 128.0, 0.1);
  EXPECT_NEAR(std::sqrt(sumSq / n - mean * mean), 6.0, 0.1);
  options.seed = 8;
  EXPECT_NE(render(target, oneToOnePose(), options).frame.pixels, a.frame.pixels);
}

TEST(SyntheticView, JpegRecompressionDegradesWithLowerQuality) {
  const Image target = gradientTarget();
  const RenderedView clean = render(target, oneToOnePose(), ViewOptions());
  auto meanError = [&](int quality) {
    ViewOptions options;
    options.background = nullptr;
    options.jpegQuality = quality;
    const RenderedView view = render(target, oneToOnePose(), options);
    double total = 0;
    for (size_t i = 0; i < view.frame.pixels.size(); ++i)
      total += std::abs(view.frame.pixels[i] - clean.frame.pixels[i]);
    return total / view.frame.pixels.size();
  };
  const double high = meanError(95), low = meanError(5);
  EXPECT_GT(high, 0.0);
  EXPECT_LT(high, 1.5);
  EXPECT_GT(low, 2.0 * high);
}

TEST(SyntheticView, BadInputIsRefusedWithAReason) {
  const PoseMatrix pose = oneToOnePose();
  RenderedView view;
  std::string error;
  EXPECT_FALSE(renderView(Image(), pose, ViewOptions(), &view, &error));
  EXPECT_NE(error.find("target"), std::string::npos);
  Image broken = flatTarget(4, 4, 0);
  broken.pixels.resize(5);
  EXPECT_FALSE(renderView(broken, pose, ViewOptions(), &view, &error));

  const Image target = flatTarget(4, 4, 0);
  PoseMatrix nan = pose;
  nan[3] = std::nan("");
  EXPECT_FALSE(renderView(target, nan, ViewOptions(), &view, &error));
  ViewOptions options;
  options.jpegQuality = 101;
  EXPECT_FALSE(renderView(target, pose, options, &view, &error));
  options = ViewOptions();
  options.camera.width = 0;
  EXPECT_FALSE(renderView(target, pose, options, &view, &error));
  options = ViewOptions();
  options.noiseSigma = -1;
  EXPECT_FALSE(renderView(target, pose, options, &view, &error));
  EXPECT_FALSE(renderView(target, pose, ViewOptions(), nullptr, &error));

  // A target behind the camera renders as background only.
  PoseMatrix behind = pose;
  behind[11] = -2.5;
  ASSERT_TRUE(renderView(target, behind, ViewOptions(), &view, &error));
  EXPECT_EQ(view.frame.pixels, std::vector<uint8_t>(640 * 480 * 3, 128));
  EXPECT_FALSE(view.truth.fullyInView);
}

TEST(SyntheticView, ClutterIsDeterministicAndBusy) {
  const Image a = makeClutter(320, 240, 3), b = makeClutter(320, 240, 3);
  EXPECT_EQ(a.pixels, b.pixels);
  EXPECT_NE(makeClutter(320, 240, 4).pixels, a.pixels);
  // Many strong horizontal steps: a scene full of edges and corners.
  int edges = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 1; x < 320; ++x) edges += std::abs(a.row(y)[3 * x] - a.row(y)[3 * x - 3]) > 40;
  EXPECT_GT(edges, 1000);
}

}  // namespace
}  // namespace vornik
