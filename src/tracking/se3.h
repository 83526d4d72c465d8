#pragma once
#include "tracking/pose_types.h"

namespace vornik {

// Exponential and logarithm maps of SO(3) and SE(3) in single precision.
// Invariants: so3Ln(so3Exp(w)) == w and se3Ln(se3Exp(mu)) == mu for rotation
// angles below pi, up to float rounding. Both logarithms apply their formulas
// to any 3x3 block; exp(ln(T)) therefore re-orthonormalises a drifted pose.

// Rotation matrix of the rotation vector w (axis times angle).
Matrix33F so3Exp(const Vector3F& w);

// Rotation vector of R. Near an angle of pi the axis comes from the largest
// diagonal term, its sign chosen to agree with the antisymmetric part of R.
Vector3F so3Ln(const Matrix33F& r);

// Rigid transform of the motion vector mu = (translation part, rotation part).
Mat44f se3Exp(const SixVector& mu);

// Motion vector of the rigid transform T (last row ignored).
SixVector se3Ln(const Mat44f& t);

}  // namespace vornik
