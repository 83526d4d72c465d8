#pragma once
#include "tracking/pose_types.h"

namespace vornik {

// Weighted linear least squares in six unknowns, solved through the normal
// equations: minimises sum w (m - J x)^2 (+ the diagonal prior). Only the
// upper triangle of the normal matrix is kept. Not thread-safe; each user
// (the tracker) owns its instance.
class LeastSquares6 {
 public:
  static constexpr int kSize = 6;

  LeastSquares6() { clear(0.0f); }

  // Normal matrix = prior * I, right-hand side and squared sum = 0.
  void clear(float prior);
  // Adds `value` to every diagonal element (a damping prior).
  void addToDiagonal(float value);
  // One measurement m with Jacobian row J and weight w.
  void addMeasurement(float m, const SixVector& jacobian, float weight);
  // The same, one element at a time: the reference the vector form above
  // matches bit for bit (each element gets the same products in the same
  // order).
  void addMeasurementPlain(float m, const SixVector& jacobian, float weight);
  // Several measurements in order, as many addMeasurement calls would add
  // them (bit for bit), with the sums held in registers meanwhile.
  struct Measurement {
    float m;
    float weight;
    const float* jacobian;  // six floats
  };
  void addMeasurements(const Measurement* measurements, int count);
  // Cholesky solve of N x = v. Returns false, leaving a zero solution, when N
  // is not positive definite (too few or degenerate measurements).
  bool solve();

  const SixVector& solution() const { return solution_; }
  // Sum of w m^2 over the measurements added since the last clear.
  float weightedSquaredSum() const { return sum_; }
  // Element (row, col) of the normal matrix, row <= col.
  float normal(int row, int col) const { return normal_[row][col]; }
  float rhs(int i) const { return rhs_[i]; }

 private:
  // Rows padded to eight, so that a row is two four-float vectors; the
  // elements left of the diagonal and the padding are never read.
  alignas(16) float normal_[kSize][8];
  float rhs_[kSize];
  float sum_;
  SixVector solution_;
};

}  // namespace vornik
