#include "features/gradient_descriptor.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "features/corner_detection.h"
#include "features/descriptor_tables.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VORNIK_GRADIENT_SSE2 1
#endif
// As for FAST: no AVX2 forms where the compiler cannot align their stack.
#if VORNIK_GRADIENT_SSE2 && defined(__GNUC__) && !defined(_WIN32)
#include <immintrin.h>
#define VORNIK_GRADIENT_AVX2 1
#endif

namespace vornik {

namespace {

// Single-precision pi and 2 pi, used in double arithmetic: stored database
// descriptors were computed with exactly these values.
constexpr double kPi = 3.1415927410125732;
constexpr double kTwoPi = 6.2831854820251465;

constexpr int32_t kOrientationRadius = 5;  // samples with dx^2 + dy^2 < 36
constexpr int32_t kOrientationRadiusSq = 36;

constexpr int32_t kGridHalf = 10;  // sample grid spans -10 .. 10
constexpr int32_t kGridSide = 2 * kGridHalf + 1;
constexpr int32_t kGridSize = kGridSide * kGridSide;
constexpr int32_t kCellSamples = 6;
constexpr int32_t kCellStep = 5;  // neighbouring cells share one sample row or column

// Farthest pixel a feature reads: 14 for the rotated grid plus 2 for the
// gradient kernel.
constexpr int32_t kSafeMargin = kRecognitionBorder;

struct OrientationSample {
  int32_t dx;
  int32_t dy;
  float weight;
};

// The orientation samples in row order, built at compile time so the tracking
// thread never reads a table that is torn down at exit.
constexpr std::array<OrientationSample, kOrientationSampleTotal> makeOrientationSamples() {
  std::array<OrientationSample, kOrientationSampleTotal> samples{};
  size_t n = 0;
  for (int32_t dy = -kOrientationRadius; dy <= kOrientationRadius; ++dy) {
    for (int32_t dx = -kOrientationRadius; dx <= kOrientationRadius; ++dx) {
      const int32_t r2 = dx * dx + dy * dy;
      if (r2 >= kOrientationRadiusSq) continue;
      samples[n++] = OrientationSample{dx, dy, kOrientationWeightBySquaredDistance[r2]};
    }
  }
  return samples;
}

constexpr std::array<OrientationSample, kOrientationSampleTotal> kOrientationSamples =
    makeOrientationSamples();
// Row order ends with (3, 5), so all 109 places were filled.
static_assert(kOrientationSamples[kOrientationSampleTotal - 1].dx == 3 &&
                  kOrientationSamples[kOrientationSampleTotal - 1].dy == kOrientationRadius,
              "orientation sample count");

// Rounds half away from zero except at 0 (nearest of the descriptor grid).
inline int32_t nearest(double v) {
  return v > 0.0 ? static_cast<int32_t>(v + 0.5) : static_cast<int32_t>(v - 0.5);
}

// 5 x 5 gradient kernel at (u, v) with border pixels repeated, for features
// too close to an edge.
inline void gradientClamped(const uint8_t* pixels, int32_t width, int32_t height, int32_t u,
                            int32_t v, int32_t* gx, int32_t* gy) {
  auto at = [&](int32_t x, int32_t y) -> int32_t {
    x = std::min(std::max(x, 0), width - 1);
    y = std::min(std::max(y, 0), height - 1);
    return pixels[static_cast<ptrdiff_t>(y) * width + x];
  };
  *gx = 4 * (at(u + 1, v) - at(u - 1, v)) + 2 * (at(u + 2, v) - at(u - 2, v)) +
        2 * (at(u + 1, v - 1) - at(u - 1, v - 1)) + 2 * (at(u + 1, v + 1) - at(u - 1, v + 1)) +
        (at(u + 2, v - 1) - at(u - 2, v - 1)) + (at(u + 2, v + 1) - at(u - 2, v + 1));
  *gy = 4 * (at(u, v + 1) - at(u, v - 1)) + 2 * (at(u, v + 2) - at(u, v - 2)) +
        2 * (at(u - 1, v + 1) - at(u - 1, v - 1)) + 2 * (at(u + 1, v + 1) - at(u + 1, v - 1)) +
        (at(u - 1, v + 2) - at(u - 1, v - 2)) + (at(u + 1, v + 2) - at(u + 1, v - 2));
}

// The kernel above on an interior pixel, straight from row pointers.
inline void gradientInterior(const uint8_t* p, ptrdiff_t w, int32_t* gx, int32_t* gy) {
  const uint8_t* up = p - w;
  const uint8_t* down = p + w;
  const uint8_t* up2 = p - 2 * w;
  const uint8_t* down2 = p + 2 * w;
  *gx = 4 * (p[1] - p[-1]) + 2 * (p[2] - p[-2]) + 2 * (up[1] - up[-1]) + 2 * (down[1] - down[-1]) +
        (up[2] - up[-2]) + (down[2] - down[-2]);
  *gy = 4 * (down[0] - up[0]) + 2 * (down2[0] - up2[0]) + 2 * (down[-1] - up[-1]) +
        2 * (down[1] - up[1]) + (down2[-1] - up2[-1]) + (down2[1] - up2[1]);
}

inline bool insideMargin(int32_t width, int32_t height, int32_t x, int32_t y) {
  return x >= kSafeMargin && x < width - kSafeMargin && y >= kSafeMargin &&
         y < height - kSafeMargin;
}

}  // namespace

int32_t gradientOrientationBin(int32_t gx, int32_t gy) {
  // atan2 decides the bin only near a bin boundary. Elsewhere a polynomial
  // arctangent (error below 1e-5 rad, far inside the 1e-3 bin margin used
  // here) gives the same bin at a fraction of the cost.
  const double ax = std::abs(gx);
  const double ay = std::abs(gy);
  const double big = std::max(ax, ay);
  if (big > 0.0) {
    const double r = std::min(ax, ay) / big;
    const double r2 = r * r;
    double t =
        r * (0.9998660 + r2 * (-0.3302995 + r2 * (0.1801410 + r2 * (-0.0851330 + r2 * 0.0208351))));
    if (ay > ax) t = 0.5 * 3.141592653589793 - t;
    if (gx < 0) t = 3.141592653589793 - t;
    if (gy < 0) t = -t;
    const double q = (kPi - t) * (36.0 / kTwoPi);
    const int32_t whole = static_cast<int32_t>(q);
    const double fraction = q - whole;
    if (fraction > 1e-3 && fraction < 1.0 - 1e-3 && whole < kOrientationBins) return whole;
  }
  const double angle = std::atan2(static_cast<double>(gy), static_cast<double>(gx));
  const int32_t bin = static_cast<int32_t>(((kPi - angle) / kTwoPi) * 36.0);
  return std::min(std::max(bin, 0), kOrientationBins - 1);
}

namespace {

void orientationBinsScalar(const int32_t* gx, const int32_t* gy, int32_t count, int32_t* bins) {
  for (int32_t i = 0; i < count; ++i) {
    bins[i] = gx[i] == 0 && gy[i] == 0 ? 0 : gradientOrientationBin(gx[i], gy[i]);
  }
}

#if VORNIK_GRADIENT_SSE2
void orientationBinsSse2(const int32_t* gx, const int32_t* gy, int32_t count, int32_t* bins) {
  int32_t i = 0;
  // The polynomial of gradientOrientationBin in single precision: its error
  // (below 1e-4 of a bin with the float rounding) stays far inside the 1e-3
  // margin, and gradients near a bin boundary take the exact scalar form.
  const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 zero = _mm_setzero_ps();
  const __m128 halfPi = _mm_set1_ps(1.5707963705062866f);
  const __m128 pi = _mm_set1_ps(3.1415927410125732f);
  const __m128 toBins = _mm_set1_ps(static_cast<float>(36.0 / kTwoPi));
  const __m128 lowMargin = _mm_set1_ps(1e-3f);
  const __m128 highMargin = _mm_set1_ps(1.0f - 1e-3f);
  const __m128i lastBin = _mm_set1_epi32(kOrientationBins - 1);
  for (; i + 4 <= count; i += 4) {
    const __m128i ix = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gx + i));
    const __m128i iy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gy + i));
    const __m128 fx = _mm_cvtepi32_ps(ix);
    const __m128 fy = _mm_cvtepi32_ps(iy);
    const __m128 ax = _mm_and_ps(fx, absMask);
    const __m128 ay = _mm_and_ps(fy, absMask);
    const __m128 big = _mm_max_ps(ax, ay);
    const __m128 nonZero = _mm_cmpgt_ps(big, zero);
    // A zero gradient divides by 1 instead of 0 and is masked out below.
    const __m128 r =
        _mm_div_ps(_mm_min_ps(ax, ay),
                   _mm_or_ps(_mm_andnot_ps(nonZero, _mm_set1_ps(1.0f)), _mm_and_ps(nonZero, big)));
    const __m128 r2 = _mm_mul_ps(r, r);
    __m128 poly = _mm_add_ps(_mm_set1_ps(-0.0851330f), _mm_mul_ps(r2, _mm_set1_ps(0.0208351f)));
    poly = _mm_add_ps(_mm_set1_ps(0.1801410f), _mm_mul_ps(r2, poly));
    poly = _mm_add_ps(_mm_set1_ps(-0.3302995f), _mm_mul_ps(r2, poly));
    poly = _mm_add_ps(_mm_set1_ps(0.9998660f), _mm_mul_ps(r2, poly));
    __m128 t = _mm_mul_ps(r, poly);
    auto select = [](__m128 mask, __m128 a, __m128 b) {
      return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
    };
    t = select(_mm_cmpgt_ps(ay, ax), _mm_sub_ps(halfPi, t), t);
    t = select(_mm_cmplt_ps(fx, zero), _mm_sub_ps(pi, t), t);
    t = select(_mm_cmplt_ps(fy, zero), _mm_sub_ps(zero, t), t);
    const __m128 q = _mm_mul_ps(_mm_sub_ps(pi, t), toBins);
    const __m128i whole = _mm_cvttps_epi32(q);
    const __m128 fraction = _mm_sub_ps(q, _mm_cvtepi32_ps(whole));
    const __m128 clear = _mm_and_ps(
        _mm_and_ps(_mm_cmpgt_ps(fraction, lowMargin), _mm_cmplt_ps(fraction, highMargin)),
        _mm_castsi128_ps(_mm_cmpgt_epi32(_mm_add_epi32(lastBin, _mm_set1_epi32(1)), whole)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bins + i),
                     _mm_and_si128(whole, _mm_castps_si128(nonZero)));
    const int unclear = _mm_movemask_ps(_mm_andnot_ps(clear, nonZero));
    for (int k = 0; k < 4; ++k) {
      if ((unclear >> k) & 1) bins[i + k] = gradientOrientationBin(gx[i + k], gy[i + k]);
    }
  }
  orientationBinsScalar(gx + i, gy + i, count - i, bins + i);
}
#endif

#if VORNIK_GRADIENT_AVX2
// The SSE2 form eight at a time.
__attribute__((target("avx2"))) void orientationBinsAvx2(const int32_t* gx, const int32_t* gy,
                                                         int32_t count, int32_t* bins) {
  int32_t i = 0;
  const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  const __m256 zero = _mm256_setzero_ps();
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 halfPi = _mm256_set1_ps(1.5707963705062866f);
  const __m256 pi = _mm256_set1_ps(3.1415927410125732f);
  const __m256 toBins = _mm256_set1_ps(static_cast<float>(36.0 / kTwoPi));
  const __m256 lowMargin = _mm256_set1_ps(1e-3f);
  const __m256 highMargin = _mm256_set1_ps(1.0f - 1e-3f);
  const __m256i binCount = _mm256_set1_epi32(kOrientationBins);
  for (; i + 8 <= count; i += 8) {
    const __m256 fx =
        _mm256_cvtepi32_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(gx + i)));
    const __m256 fy =
        _mm256_cvtepi32_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(gy + i)));
    const __m256 ax = _mm256_and_ps(fx, absMask);
    const __m256 ay = _mm256_and_ps(fy, absMask);
    const __m256 big = _mm256_max_ps(ax, ay);
    const __m256 nonZero = _mm256_cmp_ps(big, zero, _CMP_GT_OQ);
    const __m256 r = _mm256_div_ps(_mm256_min_ps(ax, ay), _mm256_blendv_ps(one, big, nonZero));
    const __m256 r2 = _mm256_mul_ps(r, r);
    __m256 poly =
        _mm256_add_ps(_mm256_set1_ps(-0.0851330f), _mm256_mul_ps(r2, _mm256_set1_ps(0.0208351f)));
    poly = _mm256_add_ps(_mm256_set1_ps(0.1801410f), _mm256_mul_ps(r2, poly));
    poly = _mm256_add_ps(_mm256_set1_ps(-0.3302995f), _mm256_mul_ps(r2, poly));
    poly = _mm256_add_ps(_mm256_set1_ps(0.9998660f), _mm256_mul_ps(r2, poly));
    __m256 t = _mm256_mul_ps(r, poly);
    t = _mm256_blendv_ps(t, _mm256_sub_ps(halfPi, t), _mm256_cmp_ps(ay, ax, _CMP_GT_OQ));
    t = _mm256_blendv_ps(t, _mm256_sub_ps(pi, t), _mm256_cmp_ps(fx, zero, _CMP_LT_OQ));
    t = _mm256_blendv_ps(t, _mm256_sub_ps(zero, t), _mm256_cmp_ps(fy, zero, _CMP_LT_OQ));
    const __m256 q = _mm256_mul_ps(_mm256_sub_ps(pi, t), toBins);
    const __m256i whole = _mm256_cvttps_epi32(q);
    const __m256 fraction = _mm256_sub_ps(q, _mm256_cvtepi32_ps(whole));
    const __m256 clear =
        _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(fraction, lowMargin, _CMP_GT_OQ),
                                    _mm256_cmp_ps(fraction, highMargin, _CMP_LT_OQ)),
                      _mm256_castsi256_ps(_mm256_cmpgt_epi32(binCount, whole)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(bins + i),
                        _mm256_and_si256(whole, _mm256_castps_si256(nonZero)));
    const int unclear = _mm256_movemask_ps(_mm256_andnot_ps(clear, nonZero));
    for (int k = 0; k < 8; ++k) {
      if ((unclear >> k) & 1) bins[i + k] = gradientOrientationBin(gx[i + k], gy[i + k]);
    }
  }
  orientationBinsScalar(gx + i, gy + i, count - i, bins + i);
}
#endif

void gradientRowScalar(const uint8_t* p, ptrdiff_t w, int32_t begin, int32_t end, int16_t* g) {
  for (int32_t x = begin; x < end; ++x) {
    int32_t sx;
    int32_t sy;
    gradientInterior(p + x, w, &sx, &sy);
    g[2 * x] = static_cast<int16_t>(sx);
    g[2 * x + 1] = static_cast<int16_t>(sy);
  }
}

#if VORNIK_GRADIENT_SSE2
// Eight pixels at a time in 16-bit lanes; |gx|, |gy| <= 12 * 255. Returns
// the first pixel left to do.
inline int32_t gradientRowSse2Blocks(const uint8_t* p, ptrdiff_t w, int32_t x, int32_t end,
                                     int16_t* g) {
  const uint8_t* up = p - w;
  const uint8_t* down = p + w;
  const uint8_t* up2 = p - 2 * w;
  const uint8_t* down2 = p + 2 * w;
  const __m128i zero = _mm_setzero_si128();
  auto at = [&zero](const uint8_t* q) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), zero);
  };
  for (; x + 8 <= end; x += 8) {
    const __m128i upDiff1 = _mm_sub_epi16(at(up + x + 1), at(up + x - 1));
    const __m128i downDiff1 = _mm_sub_epi16(at(down + x + 1), at(down + x - 1));
    const __m128i sx = _mm_add_epi16(
        _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(at(p + x + 1), at(p + x - 1)), 2),
                      _mm_slli_epi16(_mm_sub_epi16(at(p + x + 2), at(p + x - 2)), 1)),
        _mm_add_epi16(_mm_slli_epi16(_mm_add_epi16(upDiff1, downDiff1), 1),
                      _mm_add_epi16(_mm_sub_epi16(at(up + x + 2), at(up + x - 2)),
                                    _mm_sub_epi16(at(down + x + 2), at(down + x - 2)))));
    const __m128i leftDiff1 = _mm_sub_epi16(at(down + x - 1), at(up + x - 1));
    const __m128i rightDiff1 = _mm_sub_epi16(at(down + x + 1), at(up + x + 1));
    const __m128i sy = _mm_add_epi16(
        _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(at(down + x), at(up + x)), 2),
                      _mm_slli_epi16(_mm_sub_epi16(at(down2 + x), at(up2 + x)), 1)),
        _mm_add_epi16(_mm_slli_epi16(_mm_add_epi16(leftDiff1, rightDiff1), 1),
                      _mm_add_epi16(_mm_sub_epi16(at(down2 + x - 1), at(up2 + x - 1)),
                                    _mm_sub_epi16(at(down2 + x + 1), at(up2 + x + 1)))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(g + 2 * x), _mm_unpacklo_epi16(sx, sy));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(g + 2 * x + 8), _mm_unpackhi_epi16(sx, sy));
  }
  return x;
}

void gradientRowSse2(const uint8_t* p, ptrdiff_t w, int32_t begin, int32_t end, int16_t* g) {
  gradientRowScalar(p, w, gradientRowSse2Blocks(p, w, begin, end, g), end, g);
}
#endif

#if VORNIK_GRADIENT_AVX2
__attribute__((target("avx2"))) inline __m256i widen16(const uint8_t* q) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
}

// Sixteen pixels at a time, then the SSE2 blocks and the scalar tail.
__attribute__((target("avx2"))) void gradientRowAvx2(const uint8_t* p, ptrdiff_t w, int32_t begin,
                                                     int32_t end, int16_t* g) {
  const uint8_t* up = p - w;
  const uint8_t* down = p + w;
  const uint8_t* up2 = p - 2 * w;
  const uint8_t* down2 = p + 2 * w;
  int32_t x = begin;
  for (; x + 16 <= end; x += 16) {
    const __m256i upDiff1 = _mm256_sub_epi16(widen16(up + x + 1), widen16(up + x - 1));
    const __m256i downDiff1 = _mm256_sub_epi16(widen16(down + x + 1), widen16(down + x - 1));
    const __m256i sx = _mm256_add_epi16(
        _mm256_add_epi16(
            _mm256_slli_epi16(_mm256_sub_epi16(widen16(p + x + 1), widen16(p + x - 1)), 2),
            _mm256_slli_epi16(_mm256_sub_epi16(widen16(p + x + 2), widen16(p + x - 2)), 1)),
        _mm256_add_epi16(
            _mm256_slli_epi16(_mm256_add_epi16(upDiff1, downDiff1), 1),
            _mm256_add_epi16(_mm256_sub_epi16(widen16(up + x + 2), widen16(up + x - 2)),
                             _mm256_sub_epi16(widen16(down + x + 2), widen16(down + x - 2)))));
    const __m256i leftDiff1 = _mm256_sub_epi16(widen16(down + x - 1), widen16(up + x - 1));
    const __m256i rightDiff1 = _mm256_sub_epi16(widen16(down + x + 1), widen16(up + x + 1));
    const __m256i sy = _mm256_add_epi16(
        _mm256_add_epi16(
            _mm256_slli_epi16(_mm256_sub_epi16(widen16(down + x), widen16(up + x)), 2),
            _mm256_slli_epi16(_mm256_sub_epi16(widen16(down2 + x), widen16(up2 + x)), 1)),
        _mm256_add_epi16(
            _mm256_slli_epi16(_mm256_add_epi16(leftDiff1, rightDiff1), 1),
            _mm256_add_epi16(_mm256_sub_epi16(widen16(down2 + x - 1), widen16(up2 + x - 1)),
                             _mm256_sub_epi16(widen16(down2 + x + 1), widen16(up2 + x + 1)))));
    // Unpacking works within 128-bit halves: pixels 0-3 and 8-11, then 4-7
    // and 12-15.
    const __m256i low = _mm256_unpacklo_epi16(sx, sy);
    const __m256i high = _mm256_unpackhi_epi16(sx, sy);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(g + 2 * x),
                        _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(g + 2 * x + 16),
                        _mm256_permute2x128_si256(low, high, 0x31));
  }
  gradientRowScalar(p, w, gradientRowSse2Blocks(p, w, x, end, g), end, g);
}
#endif

}  // namespace

std::vector<NamedKernel<OrientationBinning>> orientationBinnings() {
  std::vector<NamedKernel<OrientationBinning>> forms = {{"scalar", orientationBinsScalar}};
#if VORNIK_GRADIENT_SSE2
  forms.push_back({"sse2", orientationBinsSse2});
#endif
#if VORNIK_GRADIENT_AVX2
  if (cpuHasAvx2()) forms.push_back({"avx2", orientationBinsAvx2});
#endif
  return forms;
}

std::vector<NamedKernel<GradientRow>> gradientRows() {
  std::vector<NamedKernel<GradientRow>> forms = {{"scalar", gradientRowScalar}};
#if VORNIK_GRADIENT_SSE2
  forms.push_back({"sse2", gradientRowSse2});
#endif
#if VORNIK_GRADIENT_AVX2
  if (cpuHasAvx2()) forms.push_back({"avx2", gradientRowAvx2});
#endif
  return forms;
}

void gradientOrientationBins(const int32_t* gx, const int32_t* gy, int32_t count, int32_t* bins) {
  static const OrientationBinning binning = orientationBinnings().back().run;
  binning(gx, gy, count, bins);
}

GradientDescriptor::GradientDescriptor()
    : sampleOffsets_(static_cast<size_t>(kOrientationBins) * kGridSize), grid_(2 * kGridSize) {
  for (int32_t b = 0; b < kOrientationBins; ++b) {
    const double co = kBinCosSin[b][0];
    const double si = kBinCosSin[b][1];
    for (int32_t i = -kGridHalf; i <= kGridHalf; ++i) {
      for (int32_t j = -kGridHalf; j <= kGridHalf; ++j) {
        auto& offset = sampleOffsets_[static_cast<size_t>(b) * kGridSize +
                                      (i + kGridHalf) * kGridSide + (j + kGridHalf)];
        offset[0] = static_cast<int8_t>(nearest(j * co - i * si));
        offset[1] = static_cast<int8_t>(nearest(j * si + i * co));
      }
    }
  }
}

void GradientDescriptor::addToHistogram(int32_t gx, int32_t gy, float weight) {
  // A zero gradient adds nothing.
  if (gx == 0 && gy == 0) return;
  const double fx = gx;
  const double fy = gy;
  const double magnitude = std::sqrt(fx * fx + fy * fy);
  histogram_[gradientOrientationBin(gx, gy)] += static_cast<double>(weight) * magnitude;
}

int32_t GradientDescriptor::strongestBin() const {
  // The best sum kept in a register: indexing by `best` would make every
  // step wait on the previous one's load.
  int32_t best = 0;
  double bestSum = histogram_[0];
  for (int32_t b = 1; b < kOrientationBins; ++b) {
    const double sum = histogram_[b];
    if (sum > bestSum) {
      best = b;
      bestSum = sum;
    }
  }
  return best;
}

int32_t GradientDescriptor::orientationBin(int32_t width, int32_t height, const uint8_t* pixels,
                                           int32_t x, int32_t y) {
  histogram_.fill(0.0);
  if (pixels == nullptr || width <= 0 || height <= 0) return 0;
  const bool safe = insideMargin(width, height, x, y);
  const ptrdiff_t w = width;
  for (const OrientationSample& s : kOrientationSamples) {
    int32_t gx;
    int32_t gy;
    if (safe) {
      gradientInterior(pixels + (y + s.dy) * w + (x + s.dx), w, &gx, &gy);
    } else {
      gradientClamped(pixels, width, height, x + s.dx, y + s.dy, &gx, &gy);
    }
    addToHistogram(gx, gy, s.weight);
  }
  return strongestBin();
}

void GradientDescriptor::computeValues(int32_t width, int32_t height, const uint8_t* pixels,
                                       int32_t x, int32_t y, int32_t bin, float* values) {
  std::fill(values, values + kDescriptorBytes, 0.0f);
  if (pixels == nullptr || width <= 0 || height <= 0) return;
  bin = std::min(std::max(bin, 0), kOrientationBins - 1);
  const double co = kBinCosSin[bin][0];
  const double si = kBinCosSin[bin][1];
  const auto* offsets = &sampleOffsets_[static_cast<size_t>(bin) * kGridSize];
  const bool safe = insideMargin(width, height, x, y);
  // Local pointers: the byte image may alias anything, so member loads
  // would be repeated after every store.
  double* grid = grid_.data();
  for (int32_t g = 0; g < kGridSize; ++g) {
    int32_t gx;
    int32_t gy;
    const int32_t u = x + offsets[g][0];
    const int32_t v = y + offsets[g][1];
    if (safe) {
      gradientInterior(pixels + static_cast<ptrdiff_t>(v) * width + u, width, &gx, &gy);
    } else {
      gradientClamped(pixels, width, height, u, v, &gx, &gy);
    }
    grid[2 * g] = gx * co + gy * si;
    grid[2 * g + 1] = gy * co - gx * si;
  }
  cellSums(values);
}

// Per cell of the 4 x 4 grid, the sums of the rotated components and of
// their magnitudes over its 6 x 6 samples, in row order.
void GradientDescriptor::cellSums(float* values) const {
  const double* grid = grid_.data();
  for (int32_t r = 0; r < 4; ++r) {
    const int32_t row0 = r * kCellStep;  // grid row of i = -10 + 5 r
#if VORNIK_GRADIENT_SSE2
    // (a, b) sums and (|a|, |b|) sums in two lanes, the four cells of the
    // row side by side: each lane adds the same terms in the same order as
    // the scalar sums, and eight independent chains keep the adder busy
    // where one cell at a time would wait on every add. Named sums, not an
    // array, so they stay in registers.
    const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
    __m128d s0 = _mm_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
    __m128d m0 = s0, m1 = s0, m2 = s0, m3 = s0;
    for (int32_t i = 0; i < kCellSamples; ++i) {
      const double* row = grid + 2 * (row0 + i) * kGridSide;
      for (int32_t j = 0; j < kCellSamples; ++j) {
        const __m128d v0 = _mm_loadu_pd(row + 2 * j);
        const __m128d v1 = _mm_loadu_pd(row + 2 * (kCellStep + j));
        const __m128d v2 = _mm_loadu_pd(row + 2 * (2 * kCellStep + j));
        const __m128d v3 = _mm_loadu_pd(row + 2 * (3 * kCellStep + j));
        s0 = _mm_add_pd(s0, v0);
        s1 = _mm_add_pd(s1, v1);
        s2 = _mm_add_pd(s2, v2);
        s3 = _mm_add_pd(s3, v3);
        m0 = _mm_add_pd(m0, _mm_and_pd(v0, absMask));
        m1 = _mm_add_pd(m1, _mm_and_pd(v1, absMask));
        m2 = _mm_add_pd(m2, _mm_and_pd(v2, absMask));
        m3 = _mm_add_pd(m3, _mm_and_pd(v3, absMask));
      }
    }
    const __m128d sums[4] = {s0, s1, s2, s3};
    const __m128d magnitudes[4] = {m0, m1, m2, m3};
    for (int32_t c = 0; c < 4; ++c) {
      double sum[2];
      double magnitude[2];
      _mm_storeu_pd(sum, sums[c]);
      _mm_storeu_pd(magnitude, magnitudes[c]);
      float* cell = values + 4 * (4 * r + c);
      cell[0] = static_cast<float>(sum[0]);
      cell[1] = static_cast<float>(magnitude[0]);
      cell[2] = static_cast<float>(sum[1]);
      cell[3] = static_cast<float>(magnitude[1]);
    }
#else
    for (int32_t c = 0; c < 4; ++c) {
      const int32_t col0 = c * kCellStep;
      double sumA = 0.0;
      double sumAbsA = 0.0;
      double sumB = 0.0;
      double sumAbsB = 0.0;
      for (int32_t i = 0; i < kCellSamples; ++i) {
        const int32_t base = (row0 + i) * kGridSide + col0;
        for (int32_t j = 0; j < kCellSamples; ++j) {
          const double a = grid[2 * (base + j)];
          const double b = grid[2 * (base + j) + 1];
          sumA += a;
          sumAbsA += std::fabs(a);
          sumB += b;
          sumAbsB += std::fabs(b);
        }
      }
      float* cell = values + 4 * (4 * r + c);
      cell[0] = static_cast<float>(sumA);
      cell[1] = static_cast<float>(sumAbsA);
      cell[2] = static_cast<float>(sumB);
      cell[3] = static_cast<float>(sumAbsB);
    }
#endif
  }
}

void GradientDescriptor::computeLevelGradients(
    int32_t width, int32_t height, const uint8_t* pixels,
    const std::vector<HessianGradientFeaturePtr>& features) {
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (levelGradients_.size() < 2 * count) levelGradients_.resize(2 * count);
  // A feature inside the margin reads gradients at most kSafeMargin - 2 away
  // (the rotated sample grid), which keeps them 2 from every border.
  spanBegin_.assign(static_cast<size_t>(height), width);
  spanEnd_.assign(static_cast<size_t>(height), 0);
  constexpr int32_t kReach = kSafeMargin - 2;
  for (const HessianGradientFeaturePtr& f : features) {
    if (!insideMargin(width, height, f->x, f->y)) continue;
    for (int32_t y = f->y - kReach; y <= f->y + kReach; ++y) {
      spanBegin_[y] = std::min(spanBegin_[y], f->x - kReach);
      spanEnd_[y] = std::max(spanEnd_[y], f->x + kReach + 1);
    }
  }
  static const GradientRow row = gradientRows().back().run;
  const ptrdiff_t w = width;
  for (int32_t y = 2; y < height - 2; ++y) {
    if (spanBegin_[y] >= spanEnd_[y]) continue;
    row(pixels + y * w, w, spanBegin_[y], spanEnd_[y], levelGradients_.data() + 2 * y * w);
  }
}

int32_t GradientDescriptor::orientationBinFromGradients(int32_t width, int32_t x, int32_t y) {
  histogram_.fill(0.0);
  const ptrdiff_t centre = static_cast<ptrdiff_t>(y) * width + x;
  int32_t gx[kOrientationSampleTotal];
  int32_t gy[kOrientationSampleTotal];
  int32_t bins[kOrientationSampleTotal];
  if (orientationWidth_ != width) {
    orientationWidth_ = width;
    for (int32_t k = 0; k < kOrientationSampleTotal; ++k) {
      const OrientationSample& s = kOrientationSamples[k];
      orientationOffsets_[k] = s.dy * width + s.dx;
    }
  }
  for (int32_t k = 0; k < kOrientationSampleTotal; ++k) {
    const ptrdiff_t at = centre + orientationOffsets_[k];
    gx[k] = levelGradients_[2 * at];
    gy[k] = levelGradients_[2 * at + 1];
  }
  gradientOrientationBins(gx, gy, kOrientationSampleTotal, bins);
  // Weighted magnitudes, two at a time where SSE2 is there: the same
  // correctly rounded double operations as one at a time.
  double magnitude[kOrientationSampleTotal];
  int32_t k = 0;
#if VORNIK_GRADIENT_SSE2
  for (; k + 2 <= kOrientationSampleTotal; k += 2) {
    const __m128d fx = _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(gx + k)));
    const __m128d fy = _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(gy + k)));
    const __m128d weight =
        _mm_set_pd(kOrientationSamples[k + 1].weight, kOrientationSamples[k].weight);
    const __m128d length = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(fx, fx), _mm_mul_pd(fy, fy)));
    _mm_storeu_pd(magnitude + k, _mm_mul_pd(weight, length));
  }
#endif
  for (; k < kOrientationSampleTotal; ++k) {
    const double fx = gx[k];
    const double fy = gy[k];
    magnitude[k] =
        static_cast<double>(kOrientationSamples[k].weight) * std::sqrt(fx * fx + fy * fy);
  }
  // Summed in sample order, as addToHistogram does, so the sums are exact.
  for (k = 0; k < kOrientationSampleTotal; ++k) {
    if (gx[k] == 0 && gy[k] == 0) continue;
    histogram_[bins[k]] += magnitude[k];
  }
  return strongestBin();
}

void GradientDescriptor::computeValuesFromGradients(int32_t width, int32_t x, int32_t y,
                                                    int32_t bin, float* values) {
  const double co = kBinCosSin[bin][0];
  const double si = kBinCosSin[bin][1];
  const auto* offsets = &sampleOffsets_[static_cast<size_t>(bin) * kGridSize];
  const int16_t* gradients = levelGradients_.data() + 2 * (static_cast<ptrdiff_t>(y) * width + x);
  double* grid = grid_.data();
  int32_t g = 0;
#if VORNIK_GRADIENT_SSE2
  // Per sample (a, b) = (gx, gy) co + (gy, gx) (si, -si): the products and
  // sums of the scalar form, since x - y and x + (-y) round alike.
  const __m128d cos2 = _mm_set1_pd(co);
  const __m128d sinSigned = _mm_set_pd(-si, si);
  for (; g + 2 <= kGridSize; g += 2) {
    const ptrdiff_t at0 = static_cast<ptrdiff_t>(offsets[g][1]) * width + offsets[g][0];
    const ptrdiff_t at1 = static_cast<ptrdiff_t>(offsets[g + 1][1]) * width + offsets[g + 1][0];
    int32_t pair0;
    int32_t pair1;
    std::memcpy(&pair0, gradients + 2 * at0, sizeof pair0);
    std::memcpy(&pair1, gradients + 2 * at1, sizeof pair1);
    // gx0 gy0 gx1 gy1 as 32-bit lanes, sign extended.
    const __m128i packed = _mm_unpacklo_epi32(_mm_cvtsi32_si128(pair0), _mm_cvtsi32_si128(pair1));
    const __m128i wide = _mm_srai_epi32(_mm_unpacklo_epi16(packed, packed), 16);
    const __m128d v0 = _mm_cvtepi32_pd(wide);
    const __m128d v1 = _mm_cvtepi32_pd(_mm_unpackhi_epi64(wide, wide));
    _mm_storeu_pd(grid + 2 * g, _mm_add_pd(_mm_mul_pd(v0, cos2),
                                           _mm_mul_pd(_mm_shuffle_pd(v0, v0, 1), sinSigned)));
    _mm_storeu_pd(grid + 2 * g + 2, _mm_add_pd(_mm_mul_pd(v1, cos2),
                                               _mm_mul_pd(_mm_shuffle_pd(v1, v1, 1), sinSigned)));
  }
#endif
  for (; g < kGridSize; ++g) {
    const ptrdiff_t at = static_cast<ptrdiff_t>(offsets[g][1]) * width + offsets[g][0];
    const double gx = gradients[2 * at];
    const double gy = gradients[2 * at + 1];
    grid[2 * g] = gx * co + gy * si;
    grid[2 * g + 1] = gy * co - gx * si;
  }
  cellSums(values);
}

void GradientDescriptor::describeLevel(int32_t width, int32_t height, const uint8_t* pixels,
                                       int32_t level, HessianGradientFeatureMngr* features) {
  if (features == nullptr || pixels == nullptr || width <= 0 || height <= 0) return;
  const auto& list = features->levelFeatures(level);
  if (list.empty()) return;
  computeLevelGradients(width, height, pixels, list);
  for (const HessianGradientFeaturePtr& f : list) {
    if (insideMargin(width, height, f->x, f->y)) {
      f->orientationBin = orientationBinFromGradients(width, f->x, f->y);
      computeValuesFromGradients(width, f->x, f->y, f->orientationBin, f->descriptorValues.data());
    } else {
      f->orientationBin = orientationBin(width, height, pixels, f->x, f->y);
      computeValues(width, height, pixels, f->x, f->y, f->orientationBin,
                    f->descriptorValues.data());
    }
  }
}

namespace {

// Moves every other cell's byte that equals the byte of the float extreme
// one step away from it (bytes wrap modulo 256).
void separateTies(const float* f, uint8_t* d, int component, bool maximum) {
  int32_t extreme = 0;
  for (int32_t k = 1; k < 16; ++k) {
    const float v = f[4 * k + component];
    const float e = f[4 * extreme + component];
    if (maximum ? v > e : v < e) extreme = k;
  }
  const uint8_t byte = d[4 * extreme + component];
  const uint8_t moved = static_cast<uint8_t>(maximum ? byte - 1 : byte + 1);
  for (int32_t k = 0; k < 16; ++k) {
    if (k != extreme && d[4 * k + component] == byte) d[4 * k + component] = moved;
  }
}

// The six steps, in their order.
struct TieStep {
  int component;
  bool maximum;
};
constexpr TieStep kTieSteps[6] = {{0, true}, {0, false}, {1, true},
                                  {2, true}, {2, false}, {3, true}};

void separateAllTiesScalar(const float* f, uint8_t* d) {
  for (const TieStep& step : kTieSteps) separateTies(f, d, step.component, step.maximum);
}

#if VORNIK_GRADIENT_SSE2
// The same steps without a branch per cell. Without NaNs the first cell
// equal to the maximum (or minimum) is the one the strict scan keeps (+0 and
// -0 compare equal in both); values with a NaN take the scan itself.
void separateAllTiesSse2(const float* f, uint8_t* d) {
  __m128 cells[16];
  __m128 unordered = _mm_setzero_ps();
  for (int32_t k = 0; k < 16; ++k) {
    cells[k] = _mm_loadu_ps(f + 4 * k);
    unordered = _mm_or_ps(unordered, _mm_cmpunord_ps(cells[k], cells[k]));
  }
  if (_mm_movemask_ps(unordered) != 0) {
    separateAllTiesScalar(f, d);
    return;
  }
  __m128 largest = cells[0];
  __m128 smallest = cells[0];
  for (int32_t k = 1; k < 16; ++k) {
    largest = _mm_max_ps(largest, cells[k]);
    smallest = _mm_min_ps(smallest, cells[k]);
  }
  int32_t maxCell[4] = {};
  int32_t minCell[4] = {};
  for (int32_t k = 15; k >= 0; --k) {
    // Downwards, so the last write per component is the first cell.
    const int32_t atMax = _mm_movemask_ps(_mm_cmpeq_ps(cells[k], largest));
    const int32_t atMin = _mm_movemask_ps(_mm_cmpeq_ps(cells[k], smallest));
    for (int32_t c = 0; c < 4; ++c) {
      if (atMax & (1 << c)) maxCell[c] = k;
      if (atMin & (1 << c)) minCell[c] = k;
    }
  }
  // Byte lanes of each component.
  alignas(16) static const uint8_t kLanes[4][16] = {
      {0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0},
      {0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0},
      {0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0},
      {0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF}};
  for (const TieStep& step : kTieSteps) {
    const int32_t c = step.component;
    const int32_t at = 4 * (step.maximum ? maxCell[c] : minCell[c]) + c;
    const uint8_t kept = d[at];
    const __m128i byte = _mm_set1_epi8(static_cast<char>(kept));
    const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(kLanes[c]));
    for (int32_t q = 0; q < 4; ++q) {
      __m128i* p = reinterpret_cast<__m128i*>(d + 16 * q);
      const __m128i v = _mm_loadu_si128(p);
      // -1 where a byte moves: down by adding it, up by subtracting it.
      const __m128i equal = _mm_and_si128(_mm_cmpeq_epi8(v, byte), lanes);
      _mm_storeu_si128(p, step.maximum ? _mm_add_epi8(v, equal) : _mm_sub_epi8(v, equal));
    }
    d[at] = kept;  // the extreme's own byte stays
  }
}
#endif

}  // namespace

std::vector<NamedKernel<TieSeparation>> tieSeparations() {
  std::vector<NamedKernel<TieSeparation>> forms = {{"scalar", separateAllTiesScalar}};
#if VORNIK_GRADIENT_SSE2
  forms.push_back({"sse2", separateAllTiesSse2});
#endif
  return forms;
}

void GradientDescriptor::quantizeDescriptor(HessianGradientFeature* feature) {
  if (feature == nullptr) return;
  const float* f = feature->descriptorValues.data();
  uint8_t* d = feature->descriptor.data();
  float maxSigned = 0.0f;
  float maxAbsolute = 0.0f;
  for (int32_t m = 0; m < kDescriptorBytes; m += 2) {
    maxSigned = std::max(maxSigned, std::fabs(f[m]));
    maxAbsolute = std::max(maxAbsolute, f[m + 1]);
  }
  // Without any gradient the scale is undefined: signed sums then take the
  // byte of a zero sum (127) and absolute sums 0, the bytes a zero value
  // gets under any positive scale.
  for (int32_t m = 0; m < kDescriptorBytes; m += 2) {
    d[m] = maxSigned > 0.0f ? static_cast<uint8_t>(f[m] / maxSigned * 127.5f + 127.5f) : 127;
    d[m + 1] = maxAbsolute > 0.0f ? static_cast<uint8_t>(f[m + 1] / maxAbsolute * 255.0f) : 0;
  }
  static const TieSeparation separate = tieSeparations().back().run;
  separate(f, d);
}

}  // namespace vornik
