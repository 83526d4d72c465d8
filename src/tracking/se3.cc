#include "tracking/se3.h"

#include <algorithm>
#include <cmath>

namespace vornik {
namespace {

// Below these squared angles the series forms replace sin/cos, whose
// quotients lose all precision in float.
constexpr float kFirstOrderLimit = 1e-8f;
constexpr float kSecondOrderLimit = 1e-6f;
// cos(pi/4) in float: switches between asin, acos and the axis-from-diagonal form.
constexpr float kCosQuarterPi = 0.70710677f;
constexpr float kPi = 3.14159265358979f;
// se3Ln: below this angle sin(a/2)/a is replaced by its limit 1/2.
constexpr float kHalfSincLimit = 1e-5f;
// se3Ln: below this angle the correction term uses its series coefficient 1/24.
constexpr float kCorrectionSeriesLimit = 0.001f;

// R = I + a [w]x + b [w]x^2.
Matrix33F rodrigues(const Vector3F& w, float a, float b) {
  const float wx2 = w[0] * w[0];
  const float wy2 = w[1] * w[1];
  const float wz2 = w[2] * w[2];
  Matrix33F r;
  r(0, 0) = 1.0f - b * (wy2 + wz2);
  r(1, 1) = 1.0f - b * (wx2 + wz2);
  r(2, 2) = 1.0f - b * (wx2 + wy2);
  float s = b * w[0] * w[1];
  float c = a * w[2];
  r(0, 1) = s - c;
  r(1, 0) = s + c;
  s = b * w[0] * w[2];
  c = a * w[1];
  r(0, 2) = s + c;
  r(2, 0) = s - c;
  s = b * w[1] * w[2];
  c = a * w[0];
  r(1, 2) = s - c;
  r(2, 1) = s + c;
  return r;
}

}  // namespace

Matrix33F so3Exp(const Vector3F& w) {
  const float t2 = dot(w, w);
  float a;
  float b;
  if (t2 < kFirstOrderLimit) {
    a = 1.0f - t2 / 6.0f;
    b = 0.5f;
  } else if (t2 < kSecondOrderLimit) {
    b = 0.5f - t2 / 24.0f;
    a = 1.0f - t2 * (1.0f - t2 / 20.0f) / 6.0f;
  } else {
    const float t = std::sqrt(t2);
    a = std::sin(t) / t;
    b = (1.0f - std::cos(t)) / t2;
  }
  return rodrigues(w, a, b);
}

Vector3F so3Ln(const Matrix33F& r) {
  const float cosAngle = (r(0, 0) + r(1, 1) + r(2, 2) - 1.0f) * 0.5f;
  Vector3F result((r(2, 1) - r(1, 2)) * 0.5f, (r(0, 2) - r(2, 0)) * 0.5f,
                  (r(1, 0) - r(0, 1)) * 0.5f);
  const float s = norm(result);
  // A drifted (non-orthonormal) input may give |sin| above 1; asin would be NaN.
  const float sinAngle = std::min(s, 1.0f);
  if (cosAngle > kCosQuarterPi) {
    if (s > 0.0f) result = result * (std::asin(sinAngle) / s);
    return result;
  }
  if (cosAngle > -kCosQuarterPi) {
    if (s > 0.0f) result = result * (std::acos(cosAngle) / s);
    return result;
  }
  // Near pi the antisymmetric part vanishes: take the axis from the symmetric part.
  const float angle = kPi - std::asin(sinAngle);
  const float d0 = r(0, 0) - cosAngle;
  const float d1 = r(1, 1) - cosAngle;
  const float d2 = r(2, 2) - cosAngle;
  Vector3F axis;
  if (std::fabs(d0) > std::fabs(d1) && std::fabs(d0) > std::fabs(d2)) {
    axis = {d0, (r(1, 0) + r(0, 1)) * 0.5f, (r(0, 2) + r(2, 0)) * 0.5f};
  } else if (std::fabs(d1) > std::fabs(d2)) {
    axis = {(r(1, 0) + r(0, 1)) * 0.5f, d1, (r(2, 1) + r(1, 2)) * 0.5f};
  } else {
    axis = {(r(0, 2) + r(2, 0)) * 0.5f, (r(2, 1) + r(1, 2)) * 0.5f, d2};
  }
  if (dot(axis, result) < 0.0f) axis = -axis;
  const float len = norm(axis);
  if (len > 0.0f) axis = axis * (1.0f / len);
  return axis * angle;
}

Mat44f se3Exp(const SixVector& mu) {
  const Vector3F u = mu.translationPart();
  const Vector3F w = mu.rotationPart();
  const float t2 = dot(w, w);
  const Vector3F c = cross(w, u);
  float a;
  float b;
  Vector3F translation;
  if (t2 < kFirstOrderLimit) {
    a = 1.0f - t2 / 6.0f;
    b = 0.5f;
    translation = u + 0.5f * c;
  } else {
    float e;
    if (t2 < kSecondOrderLimit) {
      e = (1.0f - t2 / 20.0f) / 6.0f;
      a = 1.0f - t2 * e;
      b = 0.5f - t2 / 24.0f;
    } else {
      const float t = std::sqrt(t2);
      a = std::sin(t) / t;
      b = (1.0f - std::cos(t)) / t2;
      e = (1.0f - a) / t2;
    }
    translation = u + b * c + e * cross(w, c);
  }
  return Mat44f::rigid(rodrigues(w, a, b), translation);
}

SixVector se3Ln(const Mat44f& t) {
  const Vector3F w = so3Ln(t.rotation());
  const Vector3F d = t.translation();
  const float angle = std::sqrt(dot(w, w));
  float halfSinc = 0.5f;
  if (angle > kHalfSincLimit) halfSinc = std::sin(angle * 0.5f) / angle;
  Vector3F p = so3Exp(-0.5f * w) * d;
  if (angle > kCorrectionSeriesLimit) {
    p = p - w * (dot(d, w) * (1.0f - 2.0f * halfSinc) / dot(w, w));
  } else {
    p = p - w * (dot(d, w) / 24.0f);
  }
  const float twoHalfSinc = 2.0f * halfSinc;
  if (twoHalfSinc != 0.0f) p = {p[0] / twoHalfSinc, p[1] / twoHalfSinc, p[2] / twoHalfSinc};
  return {p[0], p[1], p[2], w[0], w[1], w[2]};
}

}  // namespace vornik
