#include "tracking/svd.h"

#include <cfloat>
#include <cmath>
#include <vector>

#include "tracking/numeric_alloc.h"

namespace vornik {
namespace {

constexpr int kN = kNumericColumns;

// Bidiagonal form: d[1..n] on the diagonal, e[j] above it between columns
// j - 1 and j (e[1] is always 0). Arrays are 1-based like the inputs.
struct Bidiagonal {
  double d[kN + 1] = {};
  double e[kN + 1] = {};
};

// Householder reflector that maps x onto alpha e1: x is replaced by
// u = x - alpha e1, and the reflector is I - u u^T / tau. tau = 0 means the
// identity (x already zero).
struct Reflector {
  double alpha = 0.0;
  double tau = 0.0;
};

Reflector makeReflector(double* const* xs, int count) {
  double norm2 = 0.0;
  double scale = 0.0;
  for (int k = 0; k < count; ++k) scale = std::fmax(scale, std::fabs(*xs[k]));
  Reflector r;
  if (scale == 0.0) return r;
  // Scaled norm avoids overflow and underflow of the squares.
  for (int k = 0; k < count; ++k) {
    const double s = *xs[k] / scale;
    norm2 += s * s;
  }
  const double norm = scale * std::sqrt(norm2);
  const double x1 = *xs[0];
  r.alpha = x1 >= 0.0 ? -norm : norm;
  // u^T u / 2 = norm^2 - x1 alpha = -alpha (x1 - alpha).
  r.tau = -r.alpha * (x1 - r.alpha);
  *xs[0] = x1 - r.alpha;
  return r;
}

void rotateColumns(double** mat, int rows, int i, int j, double c, double s) {
  for (int r = 1; r <= rows; ++r) {
    const double x = mat[r][i];
    const double y = mat[r][j];
    mat[r][i] = c * x + s * y;
    mat[r][j] = c * y - s * x;
  }
}

// Reduces a to bidiagonal form; the reflector vectors stay in a, the tau
// values in tauLeft / tauRight.
void bidiagonalise(double** a, int m, Bidiagonal& b, double* tauLeft, double* tauRight) {
  // Pointers to the entries one reflector works on (a column or a row part).
  std::vector<double*> column(static_cast<size_t>(m));
  for (int i = 1; i <= kN; ++i) {
    // Left reflector: zero a[i+1..m][i].
    for (int k = i; k <= m; ++k) column[k - i] = &a[k][i];
    const Reflector left = makeReflector(column.data(), m - i + 1);
    b.d[i] = left.alpha;
    tauLeft[i] = left.tau;
    if (left.tau != 0.0) {
      for (int j = i + 1; j <= kN; ++j) {
        double s = 0.0;
        for (int k = i; k <= m; ++k) s += a[k][i] * a[k][j];
        const double f = s / left.tau;
        for (int k = i; k <= m; ++k) a[k][j] -= f * a[k][i];
      }
    } else {
      b.d[i] = a[i][i];
    }
    // Right reflector: zero a[i][i+2..n].
    tauRight[i] = 0.0;
    if (i < kN) {
      for (int j = i + 1; j <= kN; ++j) column[j - i - 1] = &a[i][j];
      const Reflector right = makeReflector(column.data(), kN - i);
      tauRight[i] = right.tau;
      b.e[i + 1] = right.tau != 0.0 ? right.alpha : a[i][i + 1];
      if (right.tau != 0.0) {
        for (int k = i + 1; k <= m; ++k) {
          double s = 0.0;
          for (int j = i + 1; j <= kN; ++j) s += a[k][j] * a[i][j];
          const double f = s / right.tau;
          for (int j = i + 1; j <= kN; ++j) a[k][j] -= f * a[i][j];
        }
      }
    }
  }
}

// V = P_1 P_2 ... P_{n-1}, built from the last reflector backwards.
void accumulateRight(double** a, const double* tauRight, double** v) {
  for (int r = 1; r <= kN; ++r)
    for (int c = 1; c <= kN; ++c) v[r][c] = r == c ? 1.0 : 0.0;
  for (int i = kN - 1; i >= 1; --i) {
    if (tauRight[i] == 0.0) continue;
    for (int j = i + 1; j <= kN; ++j) {
      double s = 0.0;
      for (int k = i + 1; k <= kN; ++k) s += a[i][k] * v[k][j];
      const double f = s / tauRight[i];
      for (int k = i + 1; k <= kN; ++k) v[k][j] -= f * a[i][k];
    }
  }
}

// U = Q_1 ... Q_n (first n columns), written over a from the last reflector
// backwards; column i of a still holds Q_i's vector when it is reached.
void accumulateLeft(double** a, int m, const double* tauLeft) {
  for (int i = kN; i >= 1; --i) {
    for (int j = i + 1; j <= kN; ++j) a[i][j] = 0.0;
    const double tau = tauLeft[i];
    if (tau == 0.0) {
      for (int k = 1; k <= m; ++k) a[k][i] = k == i ? 1.0 : 0.0;
      continue;
    }
    for (int j = i + 1; j <= kN; ++j) {
      double s = 0.0;
      for (int k = i + 1; k <= m; ++k) s += a[k][i] * a[k][j];
      const double f = s / tau;
      for (int k = i; k <= m; ++k) a[k][j] -= f * a[k][i];
    }
    const double f = a[i][i] / tau;
    for (int k = m; k >= i; --k) a[k][i] = (k == i ? 1.0 : 0.0) - f * a[k][i];
    for (int k = 1; k < i; ++k) a[k][i] = 0.0;
  }
}

// Givens pair (c, s) with c = f / r, s = g / r, r = hypot(f, g).
double givens(double f, double g, double& c, double& s) {
  const double r = std::hypot(f, g);
  if (r == 0.0) {
    c = 1.0;
    s = 0.0;
  } else {
    c = f / r;
    s = g / r;
  }
  return r;
}

// d[l-1] is negligible: rotate e[l] out along row l-1 from the left.
void cancelSuperdiagonal(Bidiagonal& b, double** u, int m, int l, int k, double tol) {
  double c = 0.0;
  double s = 1.0;
  for (int i = l; i <= k; ++i) {
    const double f = s * b.e[i];
    b.e[i] *= c;
    if (std::fabs(f) <= tol) break;
    const double g = b.d[i];
    const double h = std::hypot(f, g);
    b.d[i] = h;
    c = g / h;
    s = -f / h;
    rotateColumns(u, m, l - 1, i, c, s);
  }
}

// Shift: eigenvalue of the trailing 2x2 of B^T B (block l..k) nearer its last entry.
double wilkinsonShift(const Bidiagonal& b, int l, int k) {
  const double dk1 = b.d[k - 1];
  const double dk = b.d[k];
  const double ek1 = k - 1 > l ? b.e[k - 1] : 0.0;
  const double ek = b.e[k];
  const double t11 = dk1 * dk1 + ek1 * ek1;
  const double t12 = dk1 * ek;
  const double t22 = dk * dk + ek * ek;
  const double delta = 0.5 * (t11 - t22);
  const double denom = delta + std::copysign(std::hypot(delta, t12), delta);
  if (denom == 0.0) return t22;
  return t22 - t12 * t12 / denom;
}

// One implicitly shifted QR sweep over the block l..k, chasing the bulge down.
void qrSweep(Bidiagonal& b, double** u, int m, double** v, int l, int k) {
  const double mu = wilkinsonShift(b, l, k);
  double f = b.d[l] * b.d[l] - mu;
  double g = b.d[l] * b.e[l + 1];
  for (int i = l; i < k; ++i) {
    double c;
    double s;
    // Right rotation on columns i, i+1.
    double r = givens(f, g, c, s);
    if (i > l) b.e[i] = r;
    double di = b.d[i];
    double ei1 = b.e[i + 1];
    const double di1 = b.d[i + 1];
    f = c * di + s * ei1;
    b.e[i + 1] = c * ei1 - s * di;
    g = s * di1;
    b.d[i + 1] = c * di1;
    rotateColumns(v, kN, i, i + 1, c, s);
    // Left rotation on rows i, i+1 removes the bulge below the diagonal.
    r = givens(f, g, c, s);
    b.d[i] = r;
    ei1 = b.e[i + 1];
    di = b.d[i + 1];
    f = c * ei1 + s * di;
    b.d[i + 1] = c * di - s * ei1;
    if (i + 1 < k) {
      g = s * b.e[i + 2];
      b.e[i + 2] *= c;
    }
    rotateColumns(u, m, i, i + 1, c, s);
  }
  b.e[k] = f;
}

void diagonalise(Bidiagonal& b, double** u, int m, double** v) {
  double anorm = 0.0;
  for (int i = 1; i <= kN; ++i) anorm = std::fmax(anorm, std::fabs(b.d[i]) + std::fabs(b.e[i]));
  const double tol = DBL_EPSILON * anorm;
  for (int k = kN; k >= 1; --k) {
    for (int iteration = 0;; ++iteration) {
      // Find the top l of the unreduced block ending at k.
      int l = k;
      bool cancel = false;
      for (; l >= 1; --l) {
        if (std::fabs(b.e[l]) <= tol) break;
        if (std::fabs(b.d[l - 1]) <= tol) {
          cancel = true;
          break;
        }
      }
      if (cancel) cancelSuperdiagonal(b, u, m, l, k, tol);
      if (l == k || iteration == kSvdMaxIterations) break;
      qrSweep(b, u, m, v, l, k);
    }
    if (b.d[k] < 0.0) {
      b.d[k] = -b.d[k];
      for (int r = 1; r <= kN; ++r) v[r][k] = -v[r][k];
    }
  }
}

}  // namespace

bool svdDecompose(double** a, int32_t m, double* w, double** v) {
  if (a == nullptr || w == nullptr || v == nullptr || m < kN) return false;
  Bidiagonal b;
  double tauLeft[kN + 1] = {};
  double tauRight[kN + 1] = {};
  bidiagonalise(a, m, b, tauLeft, tauRight);
  accumulateRight(a, tauRight, v);
  accumulateLeft(a, m, tauLeft);
  diagonalise(b, a, m, v);
  for (int i = 1; i <= kN; ++i) w[i] = b.d[i];
  return true;
}

}  // namespace vornik
