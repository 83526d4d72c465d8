#include "tracking/least_squares6.h"

#include <gtest/gtest.h>
#include <Eigen/Dense>

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
