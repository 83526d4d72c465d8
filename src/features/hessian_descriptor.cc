#include "features/hessian_descriptor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <type_traits>
#include <vector>

#include "features/descriptor_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

constexpr int32_t kSubRegionOrigins[4] = {-12, -7, -2, 3};
constexpr int32_t kSubRegionSamples = 9;
constexpr float kNoAngle = -1.0f;

inline int32_t waveletScale(float scale) { return static_cast<int32_t>(scale + 0.5f); }

// Both Haar responses of even size n at (row, column) from the 3 x 3 grid
// of integral corners around it. Clamping each corner coordinate to the
// image gives exactly the clipped box sums of haarX and haarY; callers whose
// samples all lie far enough inside skip the clamps.
template <bool kClamp>
inline void haarXY(const IntegralImage& integral, int32_t row, int32_t col, int32_t h, float* hx,
                   float* hy) {
  const int32_t H = integral.height();
  const int32_t W = integral.width();
  auto clampRow = [H](int32_t r) { return kClamp ? std::min(std::max(r, 0), H) : r; };
  auto clampCol = [W](int32_t c) { return kClamp ? std::min(std::max(c, 0), W) : c; };
  const int32_t r0 = clampRow(row - h);
  const int32_t r1 = clampRow(row);
  const int32_t r2 = clampRow(row + h);
  const int32_t c0 = clampCol(col - h);
  const int32_t c1 = clampCol(col);
  const int32_t c2 = clampCol(col + h);
  const uint32_t* d = integral.data();
  const size_t s = static_cast<size_t>(integral.stride());
  const uint32_t* p0 = d + r0 * s;
  const uint32_t* p1 = d + r1 * s;
  const uint32_t* p2 = d + r2 * s;
  const uint32_t right = p2[c2] - p0[c2] - p2[c1] + p0[c1];
  const uint32_t left = p2[c1] - p0[c1] - p2[c0] + p0[c0];
  const uint32_t lower = p2[c2] - p1[c2] - p2[c0] + p1[c0];
  const uint32_t upper = p1[c2] - p0[c2] - p1[c0] + p0[c0];
  *hx = static_cast<float>(static_cast<int32_t>(right) - static_cast<int32_t>(left));
  *hy = static_cast<float>(static_cast<int32_t>(lower) - static_cast<int32_t>(upper));
}

// True when every Haar box of half size h centred in rows [rowMin, rowMax]
// and columns [colMin, colMax] lies inside the image, clamps or not.
inline bool boxesInside(const IntegralImage& integral, int32_t rowMin, int32_t rowMax,
                        int32_t colMin, int32_t colMax, int32_t h) {
  return rowMin - h >= 0 && rowMax + h <= integral.height() && colMin - h >= 0 &&
         colMax + h <= integral.width();
}

// Sample weights exp(-d^2 / (2 sigma^2)) / (2 pi sigma^2), sigma = 2.5 s, by
// integer d^2, for the wavelet scales features use; the same float
// expression as computed directly.
constexpr int32_t kTabulatedScales = 8;
constexpr int32_t kTabulatedDistanceSq = 4096;

inline float sampleWeight(int32_t s, int32_t d2) {
  const float sigma = 2.5f * static_cast<float>(s);
  return std::exp(-static_cast<float>(d2) / (2.0f * sigma * sigma)) / (2.0f * kPi * sigma * sigma);
}

const float* sampleWeights(int32_t s) {
  // Never destroyed: the tracking thread may still describe a frame while the
  // process exits.
  static const std::vector<float>& table = *[] {
    auto* t =
        new std::vector<float>(static_cast<size_t>(kTabulatedScales + 1) * kTabulatedDistanceSq);
    for (int32_t scale = 1; scale <= kTabulatedScales; ++scale) {
      for (int32_t d2 = 0; d2 < kTabulatedDistanceSq; ++d2) {
        (*t)[static_cast<size_t>(scale) * kTabulatedDistanceSq + d2] = sampleWeight(scale, d2);
      }
    }
    return t;
  }();
  if (s < 1 || s > kTabulatedScales) return nullptr;
  return &table[static_cast<size_t>(s) * kTabulatedDistanceSq];
}

}  // namespace

float quadrantAngle(float x, float y) {
  if (x >= 0.0f && y >= 0.0f) return std::atan(y / x);
  if (x < 0.0f && y >= 0.0f) return kPi - std::atan(-y / x);
  if (x < 0.0f && y < 0.0f) return kPi + std::atan(y / x);
  return kTwoPi - std::atan(-y / x);
}

namespace {

// The sliding windows: start a (0, 0.15, ... accumulated in single
// precision while a < 2 pi) and end e, wrapped past 2 pi.
struct OrientationWindows {
  int32_t count = 0;
  int32_t regular = 0;  // windows 0 .. regular - 1 have a < e
  float start[64];
  float end[64];
};

const OrientationWindows& orientationWindows() {
  static const OrientationWindows windows = [] {
    OrientationWindows w;
    for (float a = 0.0f; a < kTwoPi; a += kWindowStep) {
      float e = a + kPiThird;
      if (e > kTwoPi) e = a - kFivePiThird;
      w.start[w.count] = a;
      w.end[w.count] = e;
      if (a < e) w.regular = w.count + 1;
      ++w.count;
    }
    return w;
  }();
  return windows;
}

}  // namespace

namespace {

// The 109 weighted responses of the orientation samples, in sample order.
template <bool kClamp>
void orientationResponses(const IntegralImage& integral, int32_t x, int32_t y, int32_t s,
                          ResponseAndAngle* work) {
  int32_t n = 0;
  for (int32_t i = -kOrientationRadius; i <= kOrientationRadius; ++i) {
    for (int32_t j = -kOrientationRadius; j <= kOrientationRadius; ++j) {
      if (i * i + j * j >= 36) continue;
      const float weight = kOrientationGauss[std::abs(i)][std::abs(j)];
      float hx;
      float hy;
      haarXY<kClamp>(integral, y + j * s, x + i * s, 2 * s, &hx, &hy);
      const float rx = weight * hx;
      const float ry = weight * hy;
      work->responseX[n] = rx;
      work->responseY[n] = ry;
      work->angle[n] = (rx == 0.0f && ry == 0.0f) ? kNoAngle : quadrantAngle(rx, ry);
      ++n;
    }
  }
}

}  // namespace

float computeOrientation(const IntegralImage& integral, int32_t x, int32_t y, float scale,
                         ResponseAndAngle* work) {
  const int32_t s = waveletScale(scale);
  // Samples reach 5 s from the centre (i^2 + j^2 < 36), their boxes 2 s more.
  const int32_t reach = (kOrientationRadius - 1) * s;
  if (boxesInside(integral, y - reach, y + reach, x - reach, x + reach, 2 * s)) {
    orientationResponses<false>(integral, x, y, s, work);
  } else {
    orientationResponses<true>(integral, x, y, s, work);
  }

  // Each window sums its members in sample order, the same terms in the
  // same order as a scan over all samples per window would.
  const OrientationWindows& windows = orientationWindows();
  float sumX[64] = {};
  float sumY[64] = {};
  for (int32_t k = 0; k < kOrientationSampleCount; ++k) {
    const float angle = work->angle[k];
    if (angle == kNoAngle) continue;
    const float rx = work->responseX[k];
    const float ry = work->responseY[k];
    // Starts and ends of the regular windows both grow with the index, so
    // the windows holding the angle form one run [first, last]. The
    // estimates bracket it, with margins for the accumulated rounding of the
    // starts, and are moved onto its ends.
    int32_t last = std::min(windows.regular - 1, static_cast<int32_t>(angle / kWindowStep) + 1);
    while (last >= 0 && !(windows.start[last] < angle)) --last;
    int32_t first = std::max(0, static_cast<int32_t>((angle - kPiThird) / kWindowStep) - 1);
    while (first <= last && !(angle < windows.end[first])) ++first;
    for (int32_t wi = first; wi <= last; ++wi) {
      sumX[wi] += rx;
      sumY[wi] += ry;
    }
    // Wrapping windows start beyond pi, so only 0 < angle < e can hold; their
    // ends grow with the index too, so the members are the last few.
    if (0.0f < angle) {
      for (int32_t wi = windows.count - 1; wi >= windows.regular && angle < windows.end[wi]; --wi) {
        sumX[wi] += rx;
        sumY[wi] += ry;
      }
    }
  }

  float best = 0.0f;
  float bestX = 0.0f;
  float bestY = 0.0f;
  for (int32_t wi = 0; wi < windows.count; ++wi) {
    const float length = sumX[wi] * sumX[wi] + sumY[wi] * sumY[wi];
    if (length > best) {
      best = length;
      bestX = sumX[wi];
      bestY = sumY[wi];
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
  const float fx = static_cast<float>(x);
  const float fy = static_cast<float>(y);
  const float* weights = sampleWeights(s);

  // Sub-regions overlap, so the wavelets are evaluated once per sample of
  // the 24 x 24 grid k, l = -12 .. 11, then weighted per sub-region.
  constexpr int32_t kFirst = -12;
  constexpr int32_t kSide = 24;
  int32_t gridX[kSide * kSide];
  int32_t gridY[kSide * kSide];
  // Per sample (u, u, w, w): one vector per sample gives all four sums.
  alignas(16) float gridUW[kSide * kSide * 4];
  int32_t minX = x;
  int32_t maxX = x;
  int32_t minY = y;
  int32_t maxY = y;
  for (int32_t a = 0; a < kSide; ++a) {
    const float ks = static_cast<float>((kFirst + a) * s);
    for (int32_t b = 0; b < kSide; ++b) {
      const float ls = static_cast<float>((kFirst + b) * s);
      const int32_t g = a * kSide + b;
      const int32_t px = static_cast<int32_t>(fx + ks * co - ls * si + 0.5f);
      const int32_t py = static_cast<int32_t>(fy + ls * co + ks * si + 0.5f);
      gridX[g] = px;
      gridY[g] = py;
      minX = std::min(minX, px);
      maxX = std::max(maxX, px);
      minY = std::min(minY, py);
      maxY = std::max(maxY, py);
    }
  }
  auto responses = [&](auto clamp) {
    for (int32_t g = 0; g < kSide * kSide; ++g) {
      float rx;
      float ry;
      haarXY<decltype(clamp)::value>(integral, gridY[g], gridX[g], 2 * s, &rx, &ry);
      const float u = co * ry - si * rx;
      const float w = si * ry + co * rx;
      float* q = gridUW + 4 * g;
      q[0] = u;
      q[1] = u;
      q[2] = w;
      q[3] = w;
    }
  };
  if (boxesInside(integral, minY, maxY, minX, maxX, 2 * s)) {
    responses(std::false_type());
  } else {
    responses(std::true_type());
  }

  int32_t index = 0;
  for (int32_t ii = 0; ii < 4; ++ii) {
    const int32_t i0 = kSubRegionOrigins[ii];
    for (int32_t jj = 0; jj < 4; ++jj) {
      const int32_t j0 = kSubRegionOrigins[jj];
      const float ci = static_cast<float>((i0 + 5) * s);
      const float cj = static_cast<float>((j0 + 5) * s);
      const int32_t xs = static_cast<int32_t>(fx + ci * co - cj * si + 0.5f);
      const int32_t ys = static_cast<int32_t>(fy + cj * co + ci * si + 0.5f);
      // Four running sums (u, |u|, w, |w|), each over the samples in k, l
      // order: the vector form keeps every lane's additions and order.
#if defined(__SSE2__)
      const __m128 absOdd = _mm_castsi128_ps(_mm_set_epi32(0x7fffffff, -1, 0x7fffffff, -1));
      __m128 sums = _mm_setzero_ps();
#else
      float sums[4] = {};
#endif
      for (int32_t k = i0; k < i0 + kSubRegionSamples; ++k) {
        const int32_t rowBase = (k - kFirst) * kSide - kFirst;
        for (int32_t l = j0; l < j0 + kSubRegionSamples; ++l) {
          const int32_t g = rowBase + l;
          const int32_t dx = xs - gridX[g];
          const int32_t dy = ys - gridY[g];
          const int32_t d2 = dx * dx + dy * dy;
          const float g1 =
              (weights != nullptr && d2 < kTabulatedDistanceSq) ? weights[d2] : sampleWeight(s, d2);
#if defined(__SSE2__)
          const __m128 terms = _mm_mul_ps(_mm_load_ps(gridUW + 4 * g), _mm_set1_ps(g1));
          sums = _mm_add_ps(sums, _mm_and_ps(terms, absOdd));
#else
          for (int32_t c = 0; c < 4; ++c) {
            const float t = gridUW[4 * g + c] * g1;
            sums[c] += (c & 1) ? std::fabs(t) : t;
          }
#endif
        }
      }
#if defined(__SSE2__)
      alignas(16) float sum[4];
      _mm_store_ps(sum, sums);
#else
      const float* sum = sums;
#endif
      const float g2 = kSubRegionWeights[ii][jj];
      for (int32_t c = 0; c < 4; ++c) values[index++] = sum[c] * g2;
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
