#include "tracking/se3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "features/random.h"

namespace vornik {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Double-precision reference of exp on SE(3), straight from the closed forms.
struct RefPose {
  double r[3][3];
  double t[3];
};

RefPose refSe3Exp(const double mu[6]) {
  const double w[3] = {mu[3], mu[4], mu[5]};
  const double theta = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  double a, b, e;
  if (theta < 1e-3) {
    const double t2 = theta * theta;
    a = 1 - t2 / 6 + t2 * t2 / 120;
    b = 0.5 - t2 / 24 + t2 * t2 / 720;
    e = 1.0 / 6 - t2 / 120 + t2 * t2 / 5040;
  } else {
    a = std::sin(theta) / theta;
    b = (1 - std::cos(theta)) / (theta * theta);
    e = (theta - std::sin(theta)) / (theta * theta * theta);
  }
  const double k[3][3] = {{0, -w[2], w[1]}, {w[2], 0, -w[0]}, {-w[1], w[0], 0}};
  double k2[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      k2[i][j] = 0;
      for (int l = 0; l < 3; ++l) k2[i][j] += k[i][l] * k[l][j];
    }
  RefPose p;
  for (int i = 0; i < 3; ++i) {
    p.t[i] = 0;
    for (int j = 0; j < 3; ++j) {
      const double id = i == j ? 1.0 : 0.0;
      p.r[i][j] = id + a * k[i][j] + b * k2[i][j];
      p.t[i] += (id + b * k[i][j] + e * k2[i][j]) * mu[j];
    }
  }
  return p;
}

void expectMatchesReference(const SixVector& mu, double rotTol, double transTol) {
  const double muD[6] = {mu[0], mu[1], mu[2], mu[3], mu[4], mu[5]};
  const RefPose ref = refSe3Exp(muD);
  const Mat44f got = se3Exp(mu);
  const Matrix33F rot = so3Exp(mu.rotationPart());
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      EXPECT_NEAR(got(i, j), ref.r[i][j], rotTol) << i << "," << j;
      EXPECT_NEAR(rot(i, j), ref.r[i][j], rotTol) << i << "," << j;
    }
    EXPECT_NEAR(got(i, 3), ref.t[i], transTol) << i;
  }
  EXPECT_EQ(got(3, 0), 0.0f);
  EXPECT_EQ(got(3, 1), 0.0f);
  EXPECT_EQ(got(3, 2), 0.0f);
  EXPECT_EQ(got(3, 3), 1.0f);
}

Vector3F unitAxis(Random& rng) {
  for (;;) {
    Vector3F a(rng.uniform(2001) / 1000.0f - 1.0f, rng.uniform(2001) / 1000.0f - 1.0f,
               rng.uniform(2001) / 1000.0f - 1.0f);
    const float n = norm(a);
    if (n > 0.1f) return a * (1.0f / n);
  }
}

SixVector randomMotion(Random& rng, float angle) {
  const Vector3F axis = unitAxis(rng);
  return {rng.uniform(2001) / 1000.0f - 1.0f,
          rng.uniform(2001) / 1000.0f - 1.0f,
          rng.uniform(2001) / 1000.0f - 1.0f,
          axis[0] * angle,
          axis[1] * angle,
          axis[2] * angle};
}

// Angles covering each branch of the maps: first- and second-order series,
// asin, acos and the near-pi form of the logarithm.
const std::vector<float>& branchAngles() {
  static const std::vector<float> angles = {0.0f, 1e-6f, 5e-5f, 2e-4f, 9e-4f, 2e-3f, 0.1f,
                                            0.7f, 1.2f,  1.6f,  2.2f,  2.5f,  3.0f,  3.1f};
  return angles;
}

TEST(Se3Test, ZeroAndIdentity) {
  const Mat44f e = se3Exp(SixVector());
  for (int i = 0; i < 16; ++i) EXPECT_EQ(e.m[i], Mat44f::identity().m[i]);
  const SixVector l = se3Ln(Mat44f::identity());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(l[i], 0.0f);
  const Vector3F w = so3Ln(Matrix33F::identity());
  EXPECT_EQ(w[0], 0.0f);
  EXPECT_EQ(w[1], 0.0f);
  EXPECT_EQ(w[2], 0.0f);
}

TEST(Se3Test, ExpMatchesDoubleReferenceInEveryBranch) {
  Random rng(7);
  for (float angle : branchAngles()) {
    for (int k = 0; k < 20; ++k) {
      SCOPED_TRACE(angle);
      // (1 - cos t) / t^2 cancels in float just above the series band.
      const double transTol = angle > 1e-3f ? 1e-6 + 1e-7 / angle : 1e-6;
      const double rotTol = angle > 1e-3f ? 1e-6 : 2e-7;
      expectMatchesReference(randomMotion(rng, angle), rotTol, transTol);
    }
  }
}

TEST(Se3Test, SecondOrderBranchPinned) {
  // t2 = 4e-7 lies in the second-order series band of both maps.
  const Matrix33F r = so3Exp(Vector3F(0.0f, 0.0f, 6.324555e-4f));
  const double t = 6.324555e-4;
  EXPECT_NEAR(r(0, 0), std::cos(t), 1e-7);
  EXPECT_NEAR(r(1, 0), std::sin(t), 1e-10);
  EXPECT_NEAR(r(0, 1), -std::sin(t), 1e-10);
  const Mat44f p = se3Exp(SixVector(1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 6.324555e-4f));
  // Translation = V u with V's (1,0) term (1 - cos t) / t.
  EXPECT_NEAR(p(0, 3), std::sin(t) / t, 1e-7);
  EXPECT_NEAR(p(1, 3), (1 - std::cos(t)) / t, 1e-9);
}

TEST(Se3Test, LnInvertsExp) {
  Random rng(11);
  for (float angle : branchAngles()) {
    for (int k = 0; k < 50; ++k) {
      const SixVector mu = randomMotion(rng, angle);
      const SixVector back = se3Ln(se3Exp(mu));
      // Near pi the rotation angle is ill-conditioned in float.
      const float tol = angle > 3.0f ? 2e-3f : 2e-5f;
      for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(back[i], mu[i], tol) << "angle " << angle << " i " << i;
    }
  }
}

TEST(Se3Test, ExpOfSumEqualsProductOfSteps) {
  Random rng(3);
  for (float angle : {1e-4f, 0.05f, 1.0f, 2.8f}) {
    const SixVector mu = randomMotion(rng, angle);
    constexpr int kSteps = 8;
    Mat44f product = Mat44f::identity();
    const Mat44f step = se3Exp((1.0f / kSteps) * mu);
    for (int i = 0; i < kSteps; ++i) product = step * product;
    const Mat44f whole = se3Exp(mu);
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(product.m[i], whole.m[i], 5e-6f) << angle << " " << i;
  }
}

// At exactly pi (R = 2 a a^T - I, no antisymmetric part) either sign is a
// valid axis; just below pi the antisymmetric part must choose the sign that
// the diagonal alone gets wrong for one axis of each pair.
TEST(Se3Test, RotationsAtAndNearPi) {
  const Vector3F axes[] = {{1, 0, 0},
                           {0, 1, 0},
                           {0, 0, 1},
                           {0.6f, 0.0f, -0.8f},
                           {-0.6f, 0.0f, 0.8f},
                           {-0.48f, 0.6f, 0.64f},
                           {0.0f, -0.8f, -0.6f},
                           {0.0f, 0.8f, 0.6f}};
  for (const Vector3F& a : axes) {
    Matrix33F r;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r(i, j) = 2.0f * a[i] * a[j] - (i == j ? 1.0f : 0.0f);
    const Vector3F w = so3Ln(r);
    EXPECT_NEAR(norm(w), kPi, 1e-5);
    EXPECT_NEAR(std::fabs(dot(w, a)), kPi, 1e-5);
    const Matrix33F back = so3Exp(w);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(back.m[i], r.m[i], 2e-6f);

    const Vector3F near = so3Ln(so3Exp(a * 3.1f));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(near[i], a[i] * 3.1f, 1e-4f) << i;
  }
}

TEST(Se3Test, LnReorthonormalisesDriftedPose) {
  Random rng(5);
  const SixVector mu = randomMotion(rng, 0.9f);
  Mat44f drifted = se3Exp(mu);
  drifted(0, 1) += 2e-3f;
  drifted(2, 2) -= 1e-3f;
  const Mat44f fixed = se3Exp(se3Ln(drifted));
  const Matrix33F r = fixed.rotation();
  const Matrix33F rtr = transpose(r) * r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(rtr(i, j), i == j ? 1.0f : 0.0f, 1e-6f);
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(fixed.m[i], drifted.m[i], 3e-3f);
}

TEST(Se3Test, RigidInverseAndProduct) {
  Random rng(9);
  const Mat44f a = se3Exp(randomMotion(rng, 1.3f));
  const Mat44f b = se3Exp(randomMotion(rng, 0.4f));
  const Mat44f i1 = a * rigidInverse(a);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(i1.m[i], Mat44f::identity().m[i], 1e-6f);
  // (A B) x == A (B x).
  const Vector3F x(0.3f, -0.2f, 1.5f);
  const Vector3F lhs = transformPoint(a * b, x);
  const Vector3F rhs = transformPoint(a, transformPoint(b, x));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(lhs[i], rhs[i], 1e-5f);
}

}  // namespace
}  // namespace vornik
