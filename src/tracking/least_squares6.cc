#include "tracking/least_squares6.h"

#include <cmath>

namespace vornik {

void LeastSquares6::clear(float prior) {
  for (int i = 0; i < kSize; ++i) {
    for (int j = 0; j < kSize; ++j) normal_[i][j] = 0.0f;
    normal_[i][i] = prior;
    rhs_[i] = 0.0f;
  }
  sum_ = 0.0f;
  solution_ = SixVector();
}

void LeastSquares6::addToDiagonal(float value) {
  for (int i = 0; i < kSize; ++i) normal_[i][i] += value;
}

void LeastSquares6::addMeasurement(float m, const SixVector& jacobian, float weight) {
  for (int i = 0; i < kSize; ++i) {
    const float jw = jacobian[i] * weight;
    for (int j = i; j < kSize; ++j) normal_[i][j] += jacobian[j] * weight * jacobian[i];
    rhs_[i] += jw * m;
  }
  sum_ += m * weight * m;
}

bool LeastSquares6::solve() {
  // N = L L^T with l[j][i] (j >= i) read from the upper triangle N[i][j].
  float l[kSize][kSize] = {};
  for (int i = 0; i < kSize; ++i) {
    float diag = normal_[i][i];
    for (int k = 0; k < i; ++k) diag -= l[i][k] * l[i][k];
    if (!(diag > 0.0f)) {
      solution_ = SixVector();
      return false;
    }
    l[i][i] = std::sqrt(diag);
    for (int j = i + 1; j < kSize; ++j) {
      float sum = normal_[i][j];
      for (int k = 0; k < i; ++k) sum -= l[i][k] * l[j][k];
      l[j][i] = sum / l[i][i];
    }
  }
  float y[kSize];
  for (int i = 0; i < kSize; ++i) {
    float sum = rhs_[i];
    for (int k = 0; k < i; ++k) sum -= l[i][k] * y[k];
    y[i] = sum / l[i][i];
  }
  for (int i = kSize - 1; i >= 0; --i) {
    float sum = y[i];
    for (int k = i + 1; k < kSize; ++k) sum -= l[k][i] * solution_[k];
    solution_[i] = sum / l[i][i];
  }
  return true;
}

}  // namespace vornik
