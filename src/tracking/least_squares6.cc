#include "tracking/least_squares6.h"

#include <cmath>

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define VORNIK_LEAST_SQUARES_SSE 1
#endif

namespace vornik {

void LeastSquares6::clear(float prior) {
  for (int i = 0; i < kSize; ++i) {
    for (int j = 0; j < 8; ++j) normal_[i][j] = 0.0f;
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
#if VORNIK_LEAST_SQUARES_SSE
  // Whole rows: normal[i][j] += (J[j] w) J[i] for every j, as the plain form
  // does for j >= i.
  const __m128 w = _mm_set1_ps(weight);
  const __m128 low = _mm_mul_ps(_mm_loadu_ps(jacobian.v), w);
  const __m128 high = _mm_mul_ps(_mm_setr_ps(jacobian[4], jacobian[5], 0.0f, 0.0f), w);
  for (int i = 0; i < kSize; ++i) {
    const __m128 ji = _mm_set1_ps(jacobian[i]);
    _mm_store_ps(normal_[i], _mm_add_ps(_mm_load_ps(normal_[i]), _mm_mul_ps(low, ji)));
    _mm_store_ps(normal_[i] + 4, _mm_add_ps(_mm_load_ps(normal_[i] + 4), _mm_mul_ps(high, ji)));
    rhs_[i] += jacobian[i] * weight * m;
  }
  sum_ += m * weight * m;
#else
  addMeasurementPlain(m, jacobian, weight);
#endif
}

void LeastSquares6::addMeasurements(const Measurement* measurements, int count) {
#if VORNIK_LEAST_SQUARES_SSE
  __m128 low[kSize], high[kSize];
  for (int i = 0; i < kSize; ++i) {
    low[i] = _mm_load_ps(normal_[i]);
    high[i] = _mm_load_ps(normal_[i] + 4);
  }
  alignas(16) float rhs[8] = {rhs_[0], rhs_[1], rhs_[2], rhs_[3], rhs_[4], rhs_[5], 0.0f, 0.0f};
  __m128 rhsLow = _mm_load_ps(rhs), rhsHigh = _mm_load_ps(rhs + 4);
  for (int k = 0; k < count; ++k) {
    const Measurement& e = measurements[k];
    const float* j = e.jacobian;
    const __m128 w = _mm_set1_ps(e.weight);
    const __m128 jwLow = _mm_mul_ps(_mm_loadu_ps(j), w);
    const __m128 jwHigh = _mm_mul_ps(_mm_setr_ps(j[4], j[5], 0.0f, 0.0f), w);
    for (int i = 0; i < kSize; ++i) {
      const __m128 ji = _mm_set1_ps(j[i]);
      low[i] = _mm_add_ps(low[i], _mm_mul_ps(jwLow, ji));
      high[i] = _mm_add_ps(high[i], _mm_mul_ps(jwHigh, ji));
    }
    // rhs[i] += (J[i] w) m, lane by lane.
    const __m128 m = _mm_set1_ps(e.m);
    rhsLow = _mm_add_ps(rhsLow, _mm_mul_ps(jwLow, m));
    rhsHigh = _mm_add_ps(rhsHigh, _mm_mul_ps(jwHigh, m));
    sum_ += e.m * e.weight * e.m;
  }
  for (int i = 0; i < kSize; ++i) {
    _mm_store_ps(normal_[i], low[i]);
    _mm_store_ps(normal_[i] + 4, high[i]);
  }
  _mm_store_ps(rhs, rhsLow);
  _mm_store_ps(rhs + 4, rhsHigh);
  for (int i = 0; i < kSize; ++i) rhs_[i] = rhs[i];
#else
  for (int k = 0; k < count; ++k) {
    SixVector j;
    for (int i = 0; i < kSize; ++i) j[i] = measurements[k].jacobian[i];
    addMeasurementPlain(measurements[k].m, j, measurements[k].weight);
  }
#endif
}

void LeastSquares6::addMeasurementPlain(float m, const SixVector& jacobian, float weight) {
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
