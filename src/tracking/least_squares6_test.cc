#include "tracking/least_squares6.h"

#include <gtest/gtest.h>
#include <Eigen/Dense>
#include <vector>

#include "features/random.h"
#include "tracking/cholesky_inverse3.h"

namespace vornik {
namespace {

float uniformIn(Random& rng, float lo, float hi) {
  return lo + (hi - lo) * static_cast<float>(rng.uniform(1000001)) / 1000000.0f;
}

TEST(LeastSquares6Test, MatchesDoubleNormalEquationsAndRefusesSingularOnes) {
  Random rng(21);
  LeastSquares6 ls;
  ls.clear(40.0f);
  ls.addToDiagonal(60.0f);
  Eigen::Matrix<double, 6, 6> n = Eigen::Matrix<double, 6, 6>::Identity() * 100.0;
  Eigen::Matrix<double, 6, 1> v = Eigen::Matrix<double, 6, 1>::Zero();
  for (int k = 0; k < 200; ++k) {
    SixVector j;
    Eigen::Matrix<double, 6, 1> jd;
    for (int i = 0; i < 6; ++i) jd[i] = j[i] = uniformIn(rng, -20.0f, 20.0f);
    const float m = uniformIn(rng, -3.0f, 3.0f);
    const float w = uniformIn(rng, 0.0f, 1.0f);
    ls.addMeasurement(m, j, w);
    n += w * jd * jd.transpose();
    v += w * m * jd;
  }
  ASSERT_TRUE(ls.solve());
  const Eigen::Matrix<double, 6, 1> x = n.ldlt().solve(v);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(ls.solution()[i], x[i], 1e-4 * (1.0 + std::fabs(x[i])));
  // One measurement direction cannot fix six unknowns: the solution is reset.
  ls.clear(0.0f);
  ls.addMeasurement(1.0f, SixVector(1, 1, 0, 0, 0, 0), 1.0f);
  EXPECT_FALSE(ls.solve());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ls.solution()[i], 0.0f);
}

// The vector form against the plain one, bit for bit, over measurements of
// every sign and size.
TEST(LeastSquares6Test, BothFormsAddTheSameBits) {
  Random rng(5);
  LeastSquares6 fast, batch, plain;
  fast.clear(100.0f);
  batch.clear(100.0f);
  plain.clear(100.0f);
  std::vector<SixVector> jacobians(500);
  std::vector<LeastSquares6::Measurement> measurements;
  for (int k = 0; k < 500; ++k) {
    SixVector& j = jacobians[k];
    const float scale = k % 3 == 0 ? 1e-3f : (k % 3 == 1 ? 1.0f : 300.0f);
    for (int i = 0; i < 6; ++i) j[i] = scale * uniformIn(rng, -1.0f, 1.0f);
    const float m = uniformIn(rng, -3.0f, 3.0f);
    const float w = uniformIn(rng, 0.0f, 1.0f);
    fast.addMeasurement(m, j, w);
    plain.addMeasurementPlain(m, j, w);
    measurements.push_back({m, w, j.v});
  }
  batch.addMeasurements(measurements.data(), 200);
  batch.addMeasurements(measurements.data() + 200, 300);
  for (const LeastSquares6* form : {&fast, &batch}) {
    for (int r = 0; r < 6; ++r) {
      for (int c = r; c < 6; ++c) EXPECT_EQ(form->normal(r, c), plain.normal(r, c)) << r << c;
      EXPECT_EQ(form->rhs(r), plain.rhs(r)) << r;
    }
    EXPECT_EQ(form->weightedSquaredSum(), plain.weightedSquaredSum());
  }
}

TEST(CholeskyInverse3Test, InvertsSpdMatricesFromLowerTriangleAndReportsRankDeficiency) {
  Random rng(8);
  for (int k = 0; k < 50; ++k) {
    Eigen::Matrix3d a;
    for (int i = 0; i < 9; ++i) a.data()[i] = uniformIn(rng, -1.0f, 1.0f);
    const Eigen::Matrix3d spd = a * a.transpose() + 0.1 * Eigen::Matrix3d::Identity();
    Matrix33F m;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m(i, j) = i >= j ? static_cast<float>(spd(i, j)) : 1e9f;
    Matrix33F inv;
    ASSERT_EQ(choleskyInverse3(m, &inv), 3);
    const Eigen::Matrix3d ref = spd.inverse();
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(inv(i, j), ref(i, j), 1e-4 * (1.0 + ref.cwiseAbs().maxCoeff()));
  }
  // Zero first pivot, all ones, a zero last pivot: the rank, and no inverse.
  const float cases[3][3][3] = {{{0, 0, 0}, {0, 1, 0}, {0, 0, 1}},
                                {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}},
                                {{1, 0, 0}, {0, 1, 0}, {0, 0, 0}}};
  for (int k = 0; k < 3; ++k) {
    Matrix33F m;
    for (int i = 0; i < 9; ++i) m.m[i] = cases[k][i / 3][i % 3];
    Matrix33F inv = Matrix33F::identity();
    EXPECT_EQ(choleskyInverse3(m, &inv), k) << k;
    for (int i = 0; i < 9; ++i) EXPECT_EQ(inv.m[i], 0.0f) << k << " " << i;
  }
}

}  // namespace
}  // namespace vornik
