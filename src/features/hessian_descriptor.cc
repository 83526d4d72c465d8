#include "features/hessian_descriptor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace vornik {

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 2.0f * kPi;
constexpr float kPiThird = 1.0471976f;
constexpr float kFivePiThird = 5.235988f;
constexpr float kWindowStep = 0.15f;
constexpr int32_t kOrientationRadius = 6;

// Gaussian (sigma 2.5 samples) weights of the orientation samples, by |i|
// (along x) and |j| (along y).
constexpr float kOrientationGauss[7][7] = {
    {0.0235069f, 0.0184912f, 0.0123950f, 0.0070802f, 0.0034463f, 0.0014295f, 0.0005052f},
    {0.0216996f, 0.0170695f, 0.0114421f, 0.0065358f, 0.0031813f, 0.0013196f, 0.0004664f},
    {0.0170695f, 0.0134274f, 0.0090006f, 0.0051412f, 0.0025025f, 0.0010380f, 0.0003669f},
    {0.0114421f, 0.0090006f, 0.0060333f, 0.0034463f, 0.0016775f, 0.0006958f, 0.0002459f},
    {0.0065358f, 0.0051412f, 0.0034463f, 0.0019685f, 0.0009582f, 0.0003974f, 0.0001405f},
    {0.0031813f, 0.0025025f, 0.0016775f, 0.0009582f, 0.0004664f, 0.0001935f, 0.0000684f},
    {0.0013196f, 0.0010380f, 0.0006958f, 0.0003974f, 0.0001935f, 0.0000802f, 0.0000284f},
};

constexpr float kCellGaussNorm = 0.07073553f;  // 1 / (2 pi 1.5^2)
constexpr float kCellGaussDenominator = 4.5f;  // 2 * 1.5^2
constexpr int32_t kSubRegionOrigins[4] = {-12, -7, -2, 3};
constexpr int32_t kSubRegionSamples = 9;
constexpr float kNoAngle = -1.0f;

inline int32_t waveletScale(float scale) { return static_cast<int32_t>(scale + 0.5f); }

}  // namespace

float quadrantAngle(float x, float y) {
  if (x >= 0.0f && y >= 0.0f) return std::atan(y / x);
  if (x < 0.0f && y >= 0.0f) return kPi - std::atan(-y / x);
  if (x < 0.0f && y < 0.0f) return kPi + std::atan(y / x);
  return kTwoPi - std::atan(-y / x);
}

float computeOrientation(const IntegralImage& integral, int32_t x, int32_t y, float scale,
                         ResponseAndAngle* work) {
  const int32_t s = waveletScale(scale);
  int32_t n = 0;
  for (int32_t i = -kOrientationRadius; i <= kOrientationRadius; ++i) {
    for (int32_t j = -kOrientationRadius; j <= kOrientationRadius; ++j) {
      if (i * i + j * j >= 36) continue;
      const float weight = kOrientationGauss[std::abs(i)][std::abs(j)];
      const int32_t row = y + j * s;
      const int32_t col = x + i * s;
      const float rx = weight * static_cast<float>(haarX(integral, row, col, 4 * s));
      const float ry = weight * static_cast<float>(haarY(integral, row, col, 4 * s));
      work->responseX[n] = rx;
      work->responseY[n] = ry;
      work->angle[n] = (rx == 0.0f && ry == 0.0f) ? kNoAngle : quadrantAngle(rx, ry);
      ++n;
    }
  }

  float best = 0.0f;
  float bestX = 0.0f;
  float bestY = 0.0f;
  for (float a = 0.0f; a < kTwoPi; a += kWindowStep) {
    float e = a + kPiThird;
    if (e > kTwoPi) e = a - kFivePiThird;
    float sumX = 0.0f;
    float sumY = 0.0f;
    for (int32_t k = 0; k < kOrientationSampleCount; ++k) {
      const float angle = work->angle[k];
      const bool inside = a < e ? (a < angle && angle < e)
                                : ((0.0f < angle && angle < e) || (a < angle && angle < kPi));
      if (inside) {
        sumX += work->responseX[k];
        sumY += work->responseY[k];
      }
    }
    const float length = sumX * sumX + sumY * sumY;
    if (length > best) {
      best = length;
      bestX = sumX;
      bestY = sumY;
    }
  }
  if (best <= 0.0f) return 0.0f;
  const float orientation = quadrantAngle(bestX, bestY);
  // Rounding can land exactly on 2 pi; keep the documented range.
  return orientation >= kTwoPi ? 0.0f : orientation;
}

void computeHessianDescriptorValues(const IntegralImage& integral, int32_t x, int32_t y,
                                    float scale, float orientation, float* values) {
  const int32_t s = waveletScale(scale);
  const float co = std::cos(orientation);
  const float si = std::sin(orientation);
  const float sigma = 2.5f * static_cast<float>(s);
  const float twoSigmaSq = 2.0f * sigma * sigma;
  const float norm = 2.0f * kPi * sigma * sigma;
  const float fx = static_cast<float>(x);
  const float fy = static_cast<float>(y);
  int32_t index = 0;
  for (int32_t ii = 0; ii < 4; ++ii) {
    const int32_t i0 = kSubRegionOrigins[ii];
    const float cx = 0.5f + static_cast<float>(ii);
    for (int32_t jj = 0; jj < 4; ++jj) {
      const int32_t j0 = kSubRegionOrigins[jj];
      const float cy = 0.5f + static_cast<float>(jj);
      const float ci = static_cast<float>((i0 + 5) * s);
      const float cj = static_cast<float>((j0 + 5) * s);
      const int32_t xs = static_cast<int32_t>(fx + ci * co - cj * si + 0.5f);
      const int32_t ys = static_cast<int32_t>(fy + cj * co + ci * si + 0.5f);
      float sumU = 0.0f;
      float sumAbsU = 0.0f;
      float sumW = 0.0f;
      float sumAbsW = 0.0f;
      for (int32_t k = i0; k < i0 + kSubRegionSamples; ++k) {
        const float ks = static_cast<float>(k * s);
        for (int32_t l = j0; l < j0 + kSubRegionSamples; ++l) {
          const float ls = static_cast<float>(l * s);
          const int32_t px = static_cast<int32_t>(fx + ks * co - ls * si + 0.5f);
          const int32_t py = static_cast<int32_t>(fy + ls * co + ks * si + 0.5f);
          const int32_t d2 = (xs - px) * (xs - px) + (ys - py) * (ys - py);
          const float g1 = std::exp(-static_cast<float>(d2) / twoSigmaSq) / norm;
          const float rx = static_cast<float>(haarX(integral, py, px, 4 * s));
          const float ry = static_cast<float>(haarY(integral, py, px, 4 * s));
          const float u = (co * ry - si * rx) * g1;
          const float w = (si * ry + co * rx) * g1;
          sumU += u;
          sumAbsU += std::fabs(u);
          sumW += w;
          sumAbsW += std::fabs(w);
        }
      }
      const float dx = cx - 2.0f;
      const float dy = cy - 2.0f;
      const float g2 = std::exp(-(dx * dx + dy * dy) / kCellGaussDenominator) * kCellGaussNorm;
      values[index++] = sumU * g2;
      values[index++] = sumAbsU * g2;
      values[index++] = sumW * g2;
      values[index++] = sumAbsW * g2;
    }
  }
}

void quantizeHessianDescriptor(const float* values, uint8_t* bytes) {
  float maxSigned = 0.0f;
  float maxAbsolute = 0.0f;
  for (int32_t m = 0; m < kHessianDescriptorSize; m += 2) {
    maxSigned = std::max(maxSigned, std::fabs(values[m]));
    maxAbsolute = std::max(maxAbsolute, values[m + 1]);
  }
  // With no gradient at all the scale is undefined: signed sums take the
  // byte of a zero sum (128) and absolute sums 0, the bytes zero values get
  // under any positive scale.
  for (int32_t m = 0; m < kHessianDescriptorSize; m += 2) {
    int32_t even = 128;
    if (maxSigned > 0.0f) even = static_cast<int32_t>((values[m] / maxSigned + 1.0f) * 128.0f);
    int32_t odd = 0;
    if (maxAbsolute > 0.0f) odd = static_cast<int32_t>(values[m + 1] / maxAbsolute * 256.0f);
    bytes[m] = static_cast<uint8_t>(std::min(std::max(even, 0), 255));
    bytes[m + 1] = static_cast<uint8_t>(std::min(std::max(odd, 0), 255));
  }
}

void describeFeature(const IntegralImage& integral, Feature* feature, ResponseAndAngle* work) {
  feature->orientation = computeOrientation(integral, feature->x, feature->y, feature->scale, work);
  float values[kHessianDescriptorSize];
  computeHessianDescriptorValues(integral, feature->x, feature->y, feature->scale,
                                 feature->orientation, values);
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[kHessianDescriptorSize]);
  quantizeHessianDescriptor(values, bytes.get());
  feature->descriptor = std::move(bytes);
}

}  // namespace vornik
