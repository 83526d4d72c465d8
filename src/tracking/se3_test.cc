#include "tracking/se3.h"

#include <gtest/gtest.h>

#include <unsupported/Eigen/MatrixFunctions>

#include <cmath>

#include "features/random.h"

namespace vornik {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Angles covering each branch of the maps: first- and second-order series,
// asin, acos and the near-pi form of the logarithm.
constexpr float kBranchAngles[] = {0.0f, 1e-6f, 5e-5f, 2e-4f, 9e-4f, 2e-3f, 0.1f,
                                   0.7f, 1.2f,  1.6f,  2.2f,  2.5f,  3.0f,  3.1f};

// Double-precision exp of the 4 x 4 twist matrix (Eigen's Pade approximant).
Eigen::Matrix4d referenceExp(const SixVector& mu) {
  Eigen::Matrix4d x = Eigen::Matrix4d::Zero();
  x.topLeftCorner<3, 3>() << 0, -mu[5], mu[4], mu[5], 0, -mu[3], -mu[4], mu[3], 0;
  x.topRightCorner<3, 1>() << mu[0], mu[1], mu[2];
  return x.exp();
}

// Translation in [-1, 1]^3, rotation of `angle` about a random axis.
SixVector randomMotion(Random& rng, float angle) {
  auto r = [&rng] { return rng.uniform(2001) / 1000.0f - 1.0f; };
  Vector3F axis;
  do axis = Vector3F{r(), r(), r()};
  while (norm(axis) <= 0.1f);
  axis = axis * (angle / norm(axis));
  return SixVector{r(), r(), r(), axis[0], axis[1], axis[2]};
}

// ln inverts exp there too.
TEST(Se3Test, ExpMatchesDoubleReferenceAndLnInvertsItInEveryBranch) {
  Random rng(7);
  for (float angle : kBranchAngles) {
    SCOPED_TRACE(angle);
    // (1 - cos t) / t^2 cancels in float just above the series band; near pi
    // the rotation angle of ln is ill-conditioned in float.
    const double transTol = angle > 1e-3f ? 1e-6 + 1e-7 / angle : 1e-6;
    const double rotTol = angle > 1e-3f ? 1e-6 : 2e-7;
    const float lnTol = angle > 3.0f ? 2e-3f : 2e-5f;
    for (int k = 0; k < 50; ++k) {
      const SixVector mu = randomMotion(rng, angle);
      const Eigen::Matrix4d ref = referenceExp(mu);
      const Mat44f got = se3Exp(mu);
      const Matrix33F rot = so3Exp(mu.rotationPart());
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
          EXPECT_NEAR(got(i, j), ref(i, j), rotTol) << i << "," << j;
          EXPECT_NEAR(rot(i, j), ref(i, j), rotTol) << i << "," << j;
        }
        EXPECT_NEAR(got(i, 3), ref(i, 3), transTol) << i;
      }
      const SixVector back = se3Ln(got);
      for (int i = 0; i < 6; ++i) EXPECT_NEAR(back[i], mu[i], lnTol) << i;
    }
  }
}

// A pose times its rigid inverse is the identity; a product acts as the two
// transforms in turn; a drifted rotation comes back orthonormal (and close)
// through ln and exp.
TEST(Se3Test, GroupLawsAndReorthonormalisation) {
  Random rng(3);
  for (float angle : {1e-4f, 0.05f, 0.9f, 2.8f}) {
    SCOPED_TRACE(angle);
    const Mat44f a = se3Exp(randomMotion(rng, angle)), b = se3Exp(randomMotion(rng, 0.4f));
    const Mat44f identity = a * rigidInverse(a);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(identity.m[i], Mat44f::identity().m[i], 1e-6f) << i;
    const Vector3F x(0.3f, -0.2f, 1.5f);
    const Vector3F lhs = transformPoint(a * b, x), rhs = transformPoint(a, transformPoint(b, x));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(lhs[i], rhs[i], 1e-5f);

    Mat44f drifted = a;
    drifted(0, 1) += 2e-3f;
    drifted(2, 2) -= 1e-3f;
    const Mat44f fixed = se3Exp(se3Ln(drifted));
    const Matrix33F rtr = transpose(fixed.rotation()) * fixed.rotation();
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(rtr.m[i], i % 4 == 0 ? 1.0f : 0.0f, 1e-6f) << i;
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(fixed.m[i], drifted.m[i], 3e-3f) << i;
  }
}

// At exactly pi (R = 2 a a^T - I, no antisymmetric part) either sign is a
// valid axis; just below pi the antisymmetric part must choose the sign that
// the diagonal alone gets wrong for one axis of each pair.
TEST(Se3Test, RotationsAtAndNearPi) {
  const float axes[][3] = {{1, 0, 0},         {0, 1, 0},        {0, 0, 1},
                           {0.6f, 0, -0.8f},  {-0.6f, 0, 0.8f}, {-0.48f, 0.6f, 0.64f},
                           {0, -0.8f, -0.6f}, {0, 0.8f, 0.6f}};
  for (const float* axis : axes) {
    const Vector3F a(axis[0], axis[1], axis[2]);
    Matrix33F r;
    for (int i = 0; i < 9; ++i) r.m[i] = 2.0f * a[i / 3] * a[i % 3] - (i % 4 == 0 ? 1.0f : 0.0f);
    const Vector3F w = so3Ln(r);
    EXPECT_NEAR(norm(w), kPi, 1e-5);
    EXPECT_NEAR(std::fabs(dot(w, a)), kPi, 1e-5);
    const Matrix33F back = so3Exp(w);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(back.m[i], r.m[i], 2e-6f);
    const Vector3F near = so3Ln(so3Exp(a * 3.1f));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(near[i], a[i] * 3.1f, 1e-4f) << i;
  }
}

}  // namespace
}  // namespace vornik
