#include "tracking/homography.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "tracking/numeric_alloc.h"
#include "tracking/svd.h"

namespace vornik {
namespace {

double deviationOrOne(double sumSquares, size_t n) {
  const double dev = std::sqrt(sumSquares / static_cast<double>(n));
  return dev > 0.0 && std::isfinite(dev) ? dev : 1.0;
}

}  // namespace

std::vector<NormalizedPair> normalizePairs(const std::vector<FeaturePtr>& pairs, double scale,
                                           NormalizationParams* params) {
  NormalizationParams p;
  std::vector<NormalizedPair> out;
  const size_t n = pairs.size() / 2;
  if (n > 0) {
    out.resize(n);
    for (size_t i = 0; i < n; ++i) {
      const Feature* t = pairs[2 * i].get();
      const Feature* f = pairs[2 * i + 1].get();
      assert(t != nullptr && f != nullptr);
      out[i] = {static_cast<double>(t->x), static_cast<double>(t->y), static_cast<double>(f->x),
                static_cast<double>(f->y)};
    }
    double sum[4] = {};
    for (const NormalizedPair& q : out) {
      sum[0] += q.tx;
      sum[1] += q.ty;
      sum[2] += q.fx;
      sum[3] += q.fy;
    }
    const double dn = static_cast<double>(n);
    p.meanTx = sum[0] / dn;
    p.meanTy = sum[1] / dn;
    p.meanFx = sum[2] / dn;
    p.meanFy = sum[3] / dn;
    double sq[4] = {};
    for (const NormalizedPair& q : out) {
      sq[0] += (q.tx - p.meanTx) * (q.tx - p.meanTx);
      sq[1] += (q.ty - p.meanTy) * (q.ty - p.meanTy);
      sq[2] += (q.fx - p.meanFx) * (q.fx - p.meanFx);
      sq[3] += (q.fy - p.meanFy) * (q.fy - p.meanFy);
    }
    p.devTx = deviationOrOne(sq[0], n);
    p.devTy = deviationOrOne(sq[1], n);
    p.devFx = deviationOrOne(sq[2], n);
    p.devFy = deviationOrOne(sq[3], n);
    for (NormalizedPair& q : out) {
      q.tx = (q.tx - p.meanTx) / p.devTx * scale;
      q.ty = (q.ty - p.meanTy) / p.devTy * scale;
      q.fx = (q.fx - p.meanFx) / p.devFx * scale;
      q.fy = (q.fy - p.meanFy) / p.devFy * scale;
    }
  }
  if (params != nullptr) *params = p;
  return out;
}

MatrixPtr fitHomographyDlt(const std::vector<NormalizedPair>& pairs,
                           const std::vector<int32_t>& indices) {
  std::vector<const NormalizedPair*> used;
  used.reserve(indices.size());
  for (int32_t i : indices)
    if (i >= 0 && static_cast<size_t>(i) < pairs.size()) used.push_back(&pairs[i]);
  // Fewer than 5 pairs leave the design matrix short of 9 rows: pad with zeros.
  const int32_t rows = std::max<int32_t>(2 * static_cast<int32_t>(used.size()), kNumericColumns);
  double** a = allocMatrix(rows);
  double** v = allocMatrix(kNumericColumns);
  double* w = allocVector(kNumericColumns);
  for (size_t k = 0; k < used.size(); ++k) {
    const NormalizedPair& q = *used[k];
    double* r1 = a[2 * k + 1];
    double* r2 = a[2 * k + 2];
    const double row1[9] = {0, 0, 0, -q.tx, -q.ty, -1, q.tx * q.fy, q.ty * q.fy, q.fy};
    const double row2[9] = {q.tx, q.ty, 1, 0, 0, 0, -q.tx * q.fx, -q.ty * q.fx, -q.fx};
    for (int j = 0; j < 9; ++j) {
      r1[j + 1] = row1[j];
      r2[j + 1] = row2[j];
    }
  }
  svdDecompose(a, rows, w, v);
  int smallest = 1;
  for (int j = 2; j <= kNumericColumns; ++j)
    if (w[j] < w[smallest]) smallest = j;
  auto h = std::make_shared<Matrix>(3, 3);
  for (int i = 0; i < 9; ++i) (*h)(i / 3, i % 3) = v[i + 1][smallest];
  freeMatrix(a);
  freeMatrix(v);
  freeVector(w);
  return h;
}

int countInliers(const Matrix& h, const std::vector<NormalizedPair>& pairs, double threshold,
                 std::vector<int32_t>* inliers, double* errorSum) {
  if (inliers != nullptr) inliers->clear();
  int count = 0;
  double sum = 0.0;
  for (size_t i = 0; i < pairs.size(); ++i) {
    const NormalizedPair& q = pairs[i];
    const double px = h(0, 0) * q.tx + h(0, 1) * q.ty + h(0, 2);
    const double py = h(1, 0) * q.tx + h(1, 1) * q.ty + h(1, 2);
    const double pz = h(2, 0) * q.tx + h(2, 1) * q.ty + h(2, 2);
    const double dx = px / pz - q.fx;
    const double dy = py / pz - q.fy;
    const double d = dx * dx + dy * dy;
    // A NaN distance (pz = 0) fails the test and counts as an outlier.
    if (d < threshold) {
      ++count;
      sum += d;
      if (inliers != nullptr) inliers->push_back(static_cast<int32_t>(i));
    }
  }
  if (errorSum != nullptr) *errorSum = sum;
  return count;
}

MatrixPtr ransacHomography(const std::vector<NormalizedPair>& pairs, int sampleSize, int minInliers,
                           double threshold, Random& random, int rescueIterations) {
  const int n = static_cast<int>(pairs.size());
  if (sampleSize <= 0 || n < sampleSize) return nullptr;
  const int earlyExitCount = 9 * n / 10;
  int minUsefulCount = n / 2;
  const int iterations =
      kRansacMaxIterations + std::clamp(rescueIterations, 0, kMaxRansacRescueIterations);

  std::vector<int32_t> best;
  double bestMeanError = 0.0;
  std::vector<int32_t> sample;
  std::vector<int32_t> inliers;
  for (int iteration = 0; iteration < iterations; ++iteration) {
    if (iteration >= kRansacMaxIterations) {
      // Rescue: a view whose right pairs are fewer than half, or whose
      // positions are too loose for a clean sample among 30, still gets a
      // chance; the first qualifying sample ends it.
      if (!best.empty()) break;
      minUsefulCount = std::max(minInliers, static_cast<int>(kRansacRescueShare * n));
    }
    sample.clear();
    while (static_cast<int>(sample.size()) < sampleSize) {
      const int32_t idx = static_cast<int32_t>(random.uniform(static_cast<uint32_t>(n)));
      if (std::find(sample.begin(), sample.end(), idx) == sample.end()) sample.push_back(idx);
    }
    std::sort(sample.begin(), sample.end());
    const MatrixPtr h = fitHomographyDlt(pairs, sample);
    double errorSum = 0.0;
    const int count = countInliers(*h, pairs, threshold, &inliers, &errorSum);
    if (count >= earlyExitCount) {
      best.swap(inliers);
      break;
    }
    if (count >= minUsefulCount && count > 0) {
      const double meanError = errorSum / count;
      const int bestCount = static_cast<int>(best.size());
      if (count > bestCount || (count == bestCount && meanError < bestMeanError)) {
        best.swap(inliers);
        bestMeanError = meanError;
      }
    }
  }
  if (best.empty()) return nullptr;

  MatrixPtr h;
  for (;;) {
    h = fitHomographyDlt(pairs, best);
    countInliers(*h, pairs, threshold, &inliers, nullptr);
    if (inliers.size() <= best.size()) break;
    best.swap(inliers);
  }
  if (static_cast<int>(best.size()) < minInliers) return nullptr;
  return h;
}

MatrixPtr denormalizeHomography(const Matrix& h, const NormalizationParams& params, double scale) {
  Matrix fi(3, 3);
  fi(0, 0) = params.devFx;
  fi(0, 2) = params.meanFx;
  fi(1, 1) = params.devFy;
  fi(1, 2) = params.meanFy;
  fi(2, 2) = 1.0;
  Matrix unscale(3, 3);
  unscale(0, 0) = 1.0 / scale;
  unscale(1, 1) = 1.0 / scale;
  unscale(2, 2) = 1.0;
  Matrix rescale(3, 3);
  rescale(0, 0) = scale;
  rescale(1, 1) = scale;
  rescale(2, 2) = 1.0;
  Matrix t(3, 3);
  t(0, 0) = 1.0 / params.devTx;
  t(0, 2) = -params.meanTx / params.devTx;
  t(1, 1) = 1.0 / params.devTy;
  t(1, 2) = -params.meanTy / params.devTy;
  t(2, 2) = 1.0;
  MatrixPtr r = multiply(fi, unscale);
  if (r) r = multiply(*r, h);
  if (r) r = multiply(*r, rescale);
  if (r) r = multiply(*r, t);
  return r;
}

MatrixPtr decomposeHomography(int32_t width, int32_t height, const Matrix& g) {
  if (width <= 0 || height <= 0 || g.rows() != 3 || g.cols() != 3) return nullptr;
  const float invW = 1.0f / static_cast<float>(width);
  const float halfHeightOverW = static_cast<float>(height) / (2.0f * static_cast<float>(width));
  Matrix ki(3, 3);
  ki(0, 0) = invW;
  ki(0, 2) = -0.5;
  ki(1, 1) = invW;
  ki(1, 2) = -static_cast<double>(halfHeightOverW);
  ki(2, 2) = 1.0;
  MatrixPtr m = multiply(ki, g);
  if ((*m)(2, 2) < 0.0) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) (*m)(i, j) = -(*m)(i, j);
  }
  const double r1[3] = {(*m)(0, 0), (*m)(1, 0), (*m)(2, 0)};
  const double r2[3] = {(*m)(0, 1), (*m)(1, 1), (*m)(2, 1)};
  const double r3[3] = {r1[1] * r2[2] - r1[2] * r2[1], r1[2] * r2[0] - r1[0] * r2[2],
                        r1[0] * r2[1] - r1[1] * r2[0]};
  const double l1 = std::sqrt(r1[0] * r1[0] + r1[1] * r1[1] + r1[2] * r1[2]);
  const double l2 = std::sqrt(r2[0] * r2[0] + r2[1] * r2[1] + r2[2] * r2[2]);
  const double l3 = std::sqrt(r3[0] * r3[0] + r3[1] * r3[1] + r3[2] * r3[2]);
  // A homography that collapses the plane has no pose.
  if (!(l1 > 0.0) || !(l2 > 0.0) || !(l3 > 0.0) || !std::isfinite(l1 * l2 * l3)) return nullptr;
  const double translationScale = std::sqrt(l1 * l2);
  auto pose = std::make_shared<Matrix>(4, 4);
  for (int i = 0; i < 3; ++i) {
    (*pose)(i, 0) = r1[i] / l1;
    (*pose)(i, 1) = r2[i] / l2;
    (*pose)(i, 2) = r3[i] / l3;
    (*pose)(i, 3) = (*m)(i, 2) / translationScale;
  }
  (*pose)(3, 3) = 1.0;
  return pose;
}

}  // namespace vornik
