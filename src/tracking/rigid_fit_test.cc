#include "tracking/rigid_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tracking/homography.h"
#include "tracking/se3.h"
#include "tracking/test_images.h"

namespace vornik {
namespace {

using testing_images::cornerDistance;
using testing_images::viewPose;

// The homography (plane in target widths to pixels of a 640 x 480 camera)
// that `pose` gives, its perspective row nudged by `nudge` along X: what a
// fit to slightly displaced matches of a distant target yields, a few
// pixels off at the corners.
Matrix homographyOf(const Mat44f& pose, double nudge) {
  Matrix g(3, 3);
  const double k[3][3] = {{640.0, 0.0, 320.0}, {0.0, 640.0, 240.0}, {0.0, 0.0, 1.0}};
  const int columns[3] = {0, 1, 3};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int r = 0; r < 3; ++r) sum += k[i][r] * pose(r, columns[j]);
      g(i, j) = sum;
    }
  }
  g(2, 0) += nudge * g(2, 2);
  return g;
}

// Largest distance between the corners of the square target as `pose`
// projects them and as `g` maps them.
float distanceToHomography(const Mat44f& pose, const Matrix& g) {
  float worst = 0.0f;
  for (int k = 0; k < 4; ++k) {
    const float X = k & 1 ? 0.5f : -0.5f, Y = k & 2 ? 0.5f : -0.5f;
    float camera[3], normalized[2], pixel[2];
    projectPlanePoint(pose, X, Y, 640, 480, 0, camera, normalized, pixel);
    const double w = g(2, 0) * X + g(2, 1) * Y + g(2, 2);
    const double x = (g(0, 0) * X + g(0, 1) * Y + g(0, 2)) / w;
    const double y = (g(1, 0) * X + g(1, 1) * Y + g(1, 2)) / w;
    worst = std::max(worst, static_cast<float>(std::hypot(pixel[0] - x, pixel[1] - y)));
  }
  return worst;
}

std::vector<float> gridPoints() {
  std::vector<float> plane;
  for (int y = -2; y <= 2; ++y) {
    for (int x = -2; x <= 2; ++x) {
      plane.push_back(0.2f * x);
      plane.push_back(0.2f * y);
    }
  }
  return plane;
}

// Started from the decomposition, the fit lands on the rigid pose closest
// to the homography: exactly on the pose an exact homography shows, and on
// a distant target's nudged homography far closer than the decomposition.
TEST(RigidFit, ComesCloserToTheHomographyThanItsDecomposition) {
  struct Case {
    const char* name;
    Mat44f truth;
    double nudge;
    float within;  // pixels from the homography's corners after the fit
  };
  const Case cases[] = {
      {"frontal", viewPose({0.05f, -0.04f, 0.1f}, {0.02f, 0.01f, 2.0f}), 0.0, 0.05f},
      {"far and turned", viewPose({0.3f, 0.2f, 1.0f}, {-0.4f, 0.3f, 8.0f}), 0.0, 0.05f},
      {"far, nudged", viewPose({0.2f, 0.0f, 0.2f}, {0.3f, -0.2f, 7.0f}), 0.03, 1.5f},
      {"near, nudged", viewPose({0.3f, 0.1f, 0.2f}, {0.0f, 0.05f, 2.2f}), 0.01, 1.5f},
  };
  for (const Case& c : cases) {
    const Matrix g = homographyOf(c.truth, c.nudge);
    const MatrixPtr decomposed = decomposeHomography(640, 480, g);
    ASSERT_TRUE(decomposed) << c.name;
    Mat44f pose = se3Exp(se3Ln(toMat44f(*decomposed)));
    const float before = distanceToHomography(pose, g);
    // A start a little off as well, so that every case has to move.
    pose = se3Exp(SixVector(0.01f, -0.01f, 0.05f, 0.01f, 0.0f, -0.01f)) * pose;
    ASSERT_TRUE(fitRigidPose(g, gridPoints(), 640, 480, &pose)) << c.name;
    const float after = distanceToHomography(pose, g);
    EXPECT_LE(after, c.within) << c.name << ", decomposition " << before;
    EXPECT_LE(after, before + 0.05f) << c.name;
  }
}

TEST(RigidFit, RefusesTooFewPointsAndPointsBehindTheCamera) {
  const Mat44f truth = viewPose({0.1f, 0.0f, 0.0f}, {0.0f, 0.0f, 2.0f});
  const Matrix g = homographyOf(truth, 0.0);
  Mat44f pose = se3Exp(SixVector(0.05f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f)) * truth;
  const Mat44f start = pose;
  EXPECT_FALSE(fitRigidPose(g, {0.0f, 0.0f, 0.1f, 0.1f, -0.1f, 0.1f}, 640, 480, &pose));
  Mat44f behind = start;
  behind(2, 3) = -2.0f;
  EXPECT_FALSE(fitRigidPose(g, gridPoints(), 640, 480, &behind));
  EXPECT_FALSE(fitRigidPose(g, gridPoints(), 0, 480, &pose));
  EXPECT_EQ(cornerDistance(pose, start), 0.0f);
}

}  // namespace
}  // namespace vornik
