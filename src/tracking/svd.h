#pragma once
#include <cstdint>

namespace vornik {

// At most this many QR sweeps are spent on one singular value; after that the
// decomposition moves on to the next value without an error.
constexpr int kSvdMaxIterations = 30;

// Singular value decomposition A = U W V^T of an m x 9 matrix (m >= 9) held in
// the 1-based arrays of allocMatrix: a[1..m][1..9] is overwritten by U,
// w[1..9] receives the singular values (non-negative, not sorted) and
// v[1..9][1..9] the right singular vectors as columns. Householder
// bidiagonalisation followed by implicitly shifted QR on the bidiagonal.
// Returns false, touching nothing, for null arrays or m below 9.
bool svdDecompose(double** a, int32_t m, double* w, double** v);

}  // namespace vornik
