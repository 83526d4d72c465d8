#pragma once
#include "tracking/pose_types.h"

namespace vornik {

// Inverse of a symmetric positive-definite 3x3 matrix through its Cholesky
// factor, reading only the lower triangle of `m`. Returns the rank reached by
// the factorisation (0..3); below 3 the inverse written is all zeros.
int choleskyInverse3(const Matrix33F& m, Matrix33F* inverse);

}  // namespace vornik
