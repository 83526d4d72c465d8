#include "tracking/svd.h"

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include <algorithm>
#include <limits>
#include <utility>
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

// The 1-based arrays of an m-row decomposition, freed at the end of the scope.
struct Arrays {
  explicit Arrays(int m) : a(allocMatrix(m)), v(allocMatrix(kN)), w(allocVector(kN)) {}
  ~Arrays() {
    freeMatrix(a);
    freeMatrix(v);
    freeVector(w);
  }
  double** a;
  double** v;
  double* w;
};

// Runs svdDecompose on `a` and checks it against Eigen's decomposition:
// same singular values, orthonormal V, A = U W V^T, and U's columns
// orthonormal where their singular value is non-zero.
void checkAgainstOracle(const MatrixX9& a, double tol) {
  const int m = static_cast<int>(a.rows());
  Arrays n(m);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < kN; ++j) n.a[i + 1][j + 1] = a(i, j);
  ASSERT_TRUE(svdDecompose(n.a, m, n.w, n.v));
  MatrixX9 u(m, kN);
  Eigen::Matrix<double, kN, kN> v;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < kN; ++j) u(i, j) = n.a[i + 1][j + 1];
  for (int i = 0; i < kN * kN; ++i) v(i / kN, i % kN) = n.v[i / kN + 1][i % kN + 1];
  const Eigen::Matrix<double, kN, 1> sv = Eigen::Map<Eigen::Matrix<double, kN, 1>>(n.w + 1);
  Eigen::Matrix<double, kN, 1> sorted = sv;
  std::sort(sorted.data(), sorted.data() + kN, std::greater<double>());
  const double scale = std::max(1.0, a.cwiseAbs().maxCoeff());
  EXPECT_GE(sv.minCoeff(), 0.0);
  EXPECT_LT((sorted - Eigen::JacobiSVD<MatrixX9>(a).singularValues()).cwiseAbs().maxCoeff(),
            tol * scale);
  EXPECT_LT((v.transpose() * v - decltype(v)::Identity()).cwiseAbs().maxCoeff(), tol);
  EXPECT_LT((u * sv.asDiagonal() * v.transpose() - a).cwiseAbs().maxCoeff(), tol * scale);
  std::vector<int> kept;
  for (int i = 0; i < kN; ++i)
    if (sv[i] > tol * scale) kept.push_back(i);
  const Eigen::MatrixXd utu = u(Eigen::all, kept).transpose() * u(Eigen::all, kept);
  EXPECT_TRUE(utu.isIdentity(tol)) << utu;
}

// Random matrices of several shapes and magnitudes; homography design rows
// (0,0,0,-x,-y,-1,x v,y v,v) and (x,y,1,0,0,0,-x u,-y u,-u), four pairs of
// which leave the ninth row zero; repeated and dependent columns; zero and
// single-entry matrices.
TEST(SvdTest, MatricesMatchOracle) {
  Random rng(101);
  std::vector<std::pair<MatrixX9, double>> cases;
  for (int rows : {9, 10, 17, 40, 200}) {
    for (double magnitude : {1e-3, 1.0, 1e3}) {
      MatrixX9 a(rows, kN);
      for (int i = 0; i < rows * kN; ++i) a.data()[i] = uniformIn(rng, -magnitude, magnitude);
      cases.emplace_back(a, 1e-10);
    }
  }
  for (int pairs : {4, 17, 50}) {
    MatrixX9 a = MatrixX9::Zero(std::max(2 * pairs, kN), kN);
    for (int k = 0; k < pairs; ++k) {
      const double x = uniformIn(rng, -2, 2), y = uniformIn(rng, -2, 2);
      const double u = uniformIn(rng, -2, 2), v = uniformIn(rng, -2, 2);
      a.row(2 * k) << 0, 0, 0, -x, -y, -1, x * v, y * v, v;
      a.row(2 * k + 1) << x, y, 1, 0, 0, 0, -x * u, -y * u, -u;
    }
    cases.emplace_back(a, 1e-10);
  }
  MatrixX9 dup(12, kN);
  for (int i = 0; i < 12 * kN; ++i) dup.data()[i] = uniformIn(rng, -1, 1);
  dup.col(4) = dup.col(1);
  dup.col(7) = 2.0 * dup.col(0) - dup.col(3);
  cases.emplace_back(dup, 1e-10);
  cases.emplace_back(MatrixX9::Zero(9, kN), 1e-12);
  cases.emplace_back(MatrixX9::Zero(9, kN), 1e-12);
  cases.back().first(3, 5) = -2.5;
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(::testing::Message() << "case " << i << ", " << cases[i].first.rows() << " rows");
    checkAgainstOracle(cases[i].first, cases[i].second);
  }
}

TEST(SvdTest, BadInputIsRefusedOrEndsWithinTheIterationLimit) {
  Arrays n(9);
  for (int i = 1; i <= 9; ++i)
    for (int j = 1; j <= kN; ++j) n.a[i][j] = i == j ? 1.0 : 0.5;
  EXPECT_FALSE(svdDecompose(n.a, 8, n.w, n.v));  // fewer rows than columns
  EXPECT_EQ(n.a[1][1], 1.0);
  EXPECT_FALSE(svdDecompose(nullptr, 9, n.w, n.v));
  EXPECT_FALSE(svdDecompose(n.a, 9, nullptr, n.v));
  n.a[4][4] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(svdDecompose(n.a, 9, n.w, n.v));
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
