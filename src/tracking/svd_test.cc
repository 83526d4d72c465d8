#include "tracking/svd.h"

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include <algorithm>
#include <limits>
#include <vector>

#include "features/random.h"
#include "tracking/numeric_alloc.h"

namespace vornik {
namespace {

constexpr int kN = kNumericColumns;
using MatrixX9 = Eigen::Matrix<double, Eigen::Dynamic, kN>;

double uniformIn(Random& rng, double lo, double hi) {
  return lo + (hi - lo) * static_cast<double>(rng.next()) / 4294967295.0;
}

// Runs svdDecompose on `a` and checks it against Eigen's decomposition:
// same singular values, orthonormal U and V, and A = U W V^T.
void checkAgainstOracle(const MatrixX9& a, double tol) {
  const int m = static_cast<int>(a.rows());
  double** na = allocMatrix(m);
  double** nv = allocMatrix(kN);
  double* w = allocVector(kN);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < kN; ++j) na[i + 1][j + 1] = a(i, j);
  ASSERT_TRUE(svdDecompose(na, m, w, nv));

  MatrixX9 u(m, kN);
  Eigen::Matrix<double, kN, kN> v;
  Eigen::Matrix<double, kN, 1> sv;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < kN; ++j) u(i, j) = na[i + 1][j + 1];
  for (int i = 0; i < kN; ++i) {
    sv[i] = w[i + 1];
    for (int j = 0; j < kN; ++j) v(i, j) = nv[i + 1][j + 1];
  }
  freeMatrix(na);
  freeMatrix(nv);
  freeVector(w);

  const double scale = std::max(1.0, a.cwiseAbs().maxCoeff());
  Eigen::JacobiSVD<MatrixX9> oracle(a);
  std::vector<double> mine(sv.data(), sv.data() + kN);
  std::sort(mine.begin(), mine.end(), std::greater<double>());
  for (int i = 0; i < kN; ++i) {
    EXPECT_GE(sv[i], 0.0);
    EXPECT_NEAR(mine[i], oracle.singularValues()[i], tol * scale) << i;
  }
  const Eigen::Matrix<double, kN, kN> vtv = v.transpose() * v;
  EXPECT_LT((vtv - Eigen::Matrix<double, kN, kN>::Identity()).cwiseAbs().maxCoeff(), tol);
  const MatrixX9 rebuilt = u * sv.asDiagonal() * v.transpose();
  EXPECT_LT((rebuilt - a).cwiseAbs().maxCoeff(), tol * scale);
  // U's columns are orthonormal where their singular value is non-zero.
  const Eigen::Matrix<double, kN, kN> utu = u.transpose() * u;
  for (int i = 0; i < kN; ++i) {
    for (int j = 0; j < kN; ++j) {
      if (sv[i] > tol * scale && sv[j] > tol * scale) {
        EXPECT_NEAR(utu(i, j), i == j ? 1.0 : 0.0, tol) << i << "," << j;
      }
    }
  }
}

TEST(SvdTest, RandomMatricesMatchOracle) {
  Random rng(101);
  for (int rows : {9, 10, 17, 40, 200}) {
    for (int trial = 0; trial < 10; ++trial) {
      MatrixX9 a(rows, kN);
      const double magnitude = trial % 3 == 0 ? 1e-3 : (trial % 3 == 1 ? 1.0 : 1e3);
      for (int i = 0; i < rows; ++i)
        for (int j = 0; j < kN; ++j) a(i, j) = uniformIn(rng, -magnitude, magnitude);
      SCOPED_TRACE(rows);
      checkAgainstOracle(a, 1e-10);
    }
  }
}

TEST(SvdTest, DesignMatrixShapesMatchOracle) {
  // Homography design rows: (0,0,0,-x,-y,-1,x v,y v,v) and (x,y,1,0,0,0,-x u,-y u,-u).
  Random rng(5);
  for (int pairs : {4, 17, 50}) {
    const int rows = std::max(2 * pairs, kN);
    MatrixX9 a = MatrixX9::Zero(rows, kN);
    for (int k = 0; k < pairs; ++k) {
      const double x = uniformIn(rng, -2, 2), y = uniformIn(rng, -2, 2);
      const double u = uniformIn(rng, -2, 2), v = uniformIn(rng, -2, 2);
      a.row(2 * k) << 0, 0, 0, -x, -y, -1, x * v, y * v, v;
      a.row(2 * k + 1) << x, y, 1, 0, 0, 0, -x * u, -y * u, -u;
    }
    SCOPED_TRACE(pairs);
    checkAgainstOracle(a, 1e-10);
  }
}

TEST(SvdTest, RankDeficientAndZeroMatrices) {
  Random rng(17);
  MatrixX9 dup(12, kN);
  for (int i = 0; i < 12; ++i)
    for (int j = 0; j < kN; ++j) dup(i, j) = uniformIn(rng, -1, 1);
  dup.col(4) = dup.col(1);
  dup.col(7) = 2.0 * dup.col(0) - dup.col(3);
  checkAgainstOracle(dup, 1e-10);
  checkAgainstOracle(MatrixX9::Zero(9, kN), 1e-12);
  MatrixX9 single = MatrixX9::Zero(9, kN);
  single(3, 5) = -2.5;
  checkAgainstOracle(single, 1e-12);
}

TEST(SvdTest, ZeroLastRowGivesNullSpace) {
  Random rng(23);
  for (int trial = 0; trial < 10; ++trial) {
    MatrixX9 a = MatrixX9::Zero(9, kN);
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < kN; ++j) a(i, j) = uniformIn(rng, -1, 1);
    double** na = allocMatrix(9);
    double** nv = allocMatrix(kN);
    double* w = allocVector(kN);
    for (int i = 0; i < 9; ++i)
      for (int j = 0; j < kN; ++j) na[i + 1][j + 1] = a(i, j);
    ASSERT_TRUE(svdDecompose(na, 9, w, nv));
    int smallest = 1;
    for (int j = 2; j <= kN; ++j)
      if (w[j] < w[smallest]) smallest = j;
    EXPECT_LT(w[smallest], 1e-12);
    Eigen::Matrix<double, kN, 1> n;
    for (int i = 0; i < kN; ++i) n[i] = nv[i + 1][smallest];
    EXPECT_NEAR(n.norm(), 1.0, 1e-12);
    EXPECT_LT((a.topRows(8) * n).cwiseAbs().maxCoeff(), 1e-12);
    freeMatrix(na);
    freeMatrix(nv);
    freeVector(w);
  }
}

TEST(SvdTest, NonFiniteInputEndsWithinTheIterationLimit) {
  double** a = allocMatrix(9);
  double** v = allocMatrix(kN);
  double* w = allocVector(kN);
  for (int i = 1; i <= 9; ++i)
    for (int j = 1; j <= kN; ++j) a[i][j] = i == j ? 1.0 : 0.5;
  a[4][4] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(svdDecompose(a, 9, w, v));
  freeMatrix(a);
  freeMatrix(v);
  freeVector(w);
}

TEST(SvdTest, RejectsTooFewRowsAndNullArrays) {
  double** a = allocMatrix(8);
  double** v = allocMatrix(kN);
  double* w = allocVector(kN);
  a[1][1] = 3.0;
  EXPECT_FALSE(svdDecompose(a, 8, w, v));
  EXPECT_EQ(a[1][1], 3.0);
  EXPECT_FALSE(svdDecompose(nullptr, 9, w, v));
  EXPECT_FALSE(svdDecompose(a, 9, nullptr, v));
  freeMatrix(a);
  freeMatrix(v);
  freeVector(w);
}

TEST(NumericAllocTest, OneBasedContiguousLayoutAndZeroFill) {
  double** a = allocMatrix(3);
  ASSERT_NE(a, nullptr);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(a[i], a[1] + (i - 1) * kN);
    for (int j = 1; j <= kN; ++j) EXPECT_EQ(a[i][j], 0.0);
  }
  a[3][9] = 1.0;  // last element is inside the block
  freeMatrix(a);
  EXPECT_EQ(allocMatrix(0), nullptr);
  EXPECT_EQ(allocVector(-1), nullptr);
}

TEST(NumericAllocDeathTest, FatalErrorTextAndExitCode) {
  EXPECT_EXIT(numericFatalError("allocation failure 2 in matrix()"), testing::ExitedWithCode(1),
              "Numerical Recipes run-time error\\.\\.\\.\nallocation failure 2 in "
              "matrix\\(\\)\n\\.\\.\\.now exiting to system\\.\\.\\.\n");
}

}  // namespace
}  // namespace vornik
