#pragma once
#include <cmath>

namespace vornik {

// Single-precision value types of the per-frame pose work. Layouts are fixed:
// matrices are row-major, rigid 4x4 transforms have the last row 0 0 0 1.

struct Vector3F {
  float v[3] = {0.0f, 0.0f, 0.0f};

  Vector3F() = default;
  Vector3F(float x, float y, float z) : v{x, y, z} {}
  float& operator[](int i) { return v[i]; }
  float operator[](int i) const { return v[i]; }
};

inline Vector3F operator+(const Vector3F& a, const Vector3F& b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
inline Vector3F operator-(const Vector3F& a, const Vector3F& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline Vector3F operator-(const Vector3F& a) { return {-a[0], -a[1], -a[2]}; }
inline Vector3F operator*(float s, const Vector3F& a) { return {s * a[0], s * a[1], s * a[2]}; }
inline Vector3F operator*(const Vector3F& a, float s) { return s * a; }
inline float dot(const Vector3F& a, const Vector3F& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline Vector3F cross(const Vector3F& a, const Vector3F& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline float norm(const Vector3F& a) { return std::sqrt(dot(a, a)); }

struct Matrix33F {
  float m[9] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};

  float& operator()(int row, int col) { return m[3 * row + col]; }
  float operator()(int row, int col) const { return m[3 * row + col]; }
  static Matrix33F identity() {
    Matrix33F r;
    r.m[0] = r.m[4] = r.m[8] = 1.0f;
    return r;
  }
};

inline Vector3F operator*(const Matrix33F& a, const Vector3F& x) {
  return {a(0, 0) * x[0] + a(0, 1) * x[1] + a(0, 2) * x[2],
          a(1, 0) * x[0] + a(1, 1) * x[1] + a(1, 2) * x[2],
          a(2, 0) * x[0] + a(2, 1) * x[1] + a(2, 2) * x[2]};
}
inline Matrix33F operator*(const Matrix33F& a, const Matrix33F& b) {
  Matrix33F r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r(i, j) = a(i, 0) * b(0, j) + a(i, 1) * b(1, j) + a(i, 2) * b(2, j);
  return r;
}
inline Matrix33F transpose(const Matrix33F& a) {
  Matrix33F r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r(i, j) = a(j, i);
  return r;
}

// Row-major 4x4; named apart from the public column-major vornik::Matrix44F.
struct Mat44f {
  float m[16] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};

  float& operator()(int row, int col) { return m[4 * row + col]; }
  float operator()(int row, int col) const { return m[4 * row + col]; }
  static Mat44f identity() {
    Mat44f r;
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0f;
    return r;
  }
  Matrix33F rotation() const {
    Matrix33F r;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r(i, j) = (*this)(i, j);
    return r;
  }
  Vector3F translation() const { return {m[3], m[7], m[11]}; }
  // Builds [R | t; 0 0 0 1].
  static Mat44f rigid(const Matrix33F& r, const Vector3F& t) {
    Mat44f p;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) p(i, j) = r(i, j);
      p(i, 3) = t[i];
    }
    p(3, 3) = 1.0f;
    return p;
  }
};

inline Mat44f operator*(const Mat44f& a, const Mat44f& b) {
  Mat44f r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r(i, j) = a(i, 0) * b(0, j) + a(i, 1) * b(1, j) + a(i, 2) * b(2, j) + a(i, 3) * b(3, j);
  return r;
}

// Inverse of a rigid transform: [R^T | -R^T t].
inline Mat44f rigidInverse(const Mat44f& a) {
  const Matrix33F rt = transpose(a.rotation());
  return Mat44f::rigid(rt, -(rt * a.translation()));
}

// R x + t for a rigid transform.
inline Vector3F transformPoint(const Mat44f& a, const Vector3F& x) {
  return a.rotation() * x + a.translation();
}

// Motion six-vector: components 0..2 translation part, 3..5 rotation part.
struct SixVector {
  float v[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};

  SixVector() = default;
  SixVector(float t0, float t1, float t2, float r0, float r1, float r2)
      : v{t0, t1, t2, r0, r1, r2} {}
  float& operator[](int i) { return v[i]; }
  float operator[](int i) const { return v[i]; }
  Vector3F translationPart() const { return {v[0], v[1], v[2]}; }
  Vector3F rotationPart() const { return {v[3], v[4], v[5]}; }
};

inline SixVector operator+(const SixVector& a, const SixVector& b) {
  SixVector r;
  for (int i = 0; i < 6; ++i) r[i] = a[i] + b[i];
  return r;
}
inline SixVector operator*(float s, const SixVector& a) {
  SixVector r;
  for (int i = 0; i < 6; ++i) r[i] = s * a[i];
  return r;
}

}  // namespace vornik
