#include "features/response_layer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/cpu_features.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VORNIK_RESPONSE_SSE41 1
// MinGW's GCC does not align the stack to 32 bytes, so a spilled 256-bit
// register could fault: Windows builds keep to the 128-bit forms.
#if !defined(_WIN32)
#define VORNIK_RESPONSE_AVX2 1
#endif
#endif

namespace vornik {

namespace {

// Weight 52/64 of the mixed term, in integers.
constexpr int32_t kDiagonalWeight = 64;
constexpr int32_t kMixedWeight = 52;

#if VORNIK_RESPONSE_SSE41
// Four neighbouring cells of a step-2 layer: the box corners of cell c sit
// at row[2c + offset], so two loads and a shuffle give four. The second load
// starts at p + 3 so nothing past p[6], the last value used, is read.
__attribute__((target("sse4.1"))) inline __m128i evenLanes(const uint32_t* p) {
  const __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  const __m128 b = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3)));
  return _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 2, 0)));
}

// d - b - c + a of a box given by its four corner offsets, wrapping like the
// scalar unsigned sums.
__attribute__((target("sse4.1"))) inline __m128i boxSums(const uint32_t* p, const ptrdiff_t* q) {
  return _mm_add_epi32(
      _mm_sub_epi32(_mm_sub_epi32(evenLanes(p + q[3]), evenLanes(p + q[1])), evenLanes(p + q[2])),
      evenLanes(p + q[0]));
}

// Integer division truncating toward zero, through a double product with
// the rounded reciprocal. For |n| < 2^31 the product is within 1e-9 of
// n / area, while a quotient that is not an integer lies at least 1 / area
// from the next one; so only an exact quotient k can come out one short in
// magnitude, and then the remainder is +-area.
__attribute__((target("sse4.1"))) inline __m128i divideByArea(__m128i n, __m128d reciprocal,
                                                              __m128i area) {
  const __m128i low = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(n), reciprocal));
  const __m128i high =
      _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(_mm_unpackhi_epi64(n, n)), reciprocal));
  const __m128i q = _mm_unpacklo_epi64(low, high);
  const __m128i remainder = _mm_sub_epi32(n, _mm_mullo_epi32(q, area));
  return _mm_add_epi32(_mm_sub_epi32(q, _mm_cmpeq_epi32(remainder, area)),
                       _mm_cmpeq_epi32(remainder, _mm_sub_epi32(_mm_setzero_si128(), area)));
}

// The scalar loop below for cells [begin, end) of one row, four at a time;
// returns the first cell it left.
__attribute__((target("sse4.1"))) int32_t responseRowSse41(
    const uint32_t* row, int32_t begin, int32_t end, int32_t area, const ptrdiff_t xx[8],
    const ptrdiff_t yy[8], const ptrdiff_t xy[16], int32_t* out, uint8_t* lap) {
  const __m128d reciprocal = _mm_set1_pd(1.0 / static_cast<double>(area));
  const __m128i areaI = _mm_set1_epi32(area);
  const __m128i three = _mm_set1_epi32(3);
  int32_t c = begin;
  for (; c + 4 <= end; c += 4) {
    const uint32_t* p = row + 2 * static_cast<ptrdiff_t>(c);
    const __m128i dxx =
        divideByArea(_mm_sub_epi32(boxSums(p, xx), _mm_mullo_epi32(three, boxSums(p, xx + 4))),
                     reciprocal, areaI);
    const __m128i dyy =
        divideByArea(_mm_sub_epi32(boxSums(p, yy), _mm_mullo_epi32(three, boxSums(p, yy + 4))),
                     reciprocal, areaI);
    const __m128i dxy =
        divideByArea(_mm_sub_epi32(_mm_add_epi32(boxSums(p, xy), boxSums(p, xy + 4)),
                                   _mm_add_epi32(boxSums(p, xy + 8), boxSums(p, xy + 12))),
                     reciprocal, areaI);
    const __m128i response =
        _mm_sub_epi32(_mm_mullo_epi32(_mm_set1_epi32(kDiagonalWeight), _mm_mullo_epi32(dxx, dyy)),
                      _mm_mullo_epi32(_mm_set1_epi32(kMixedWeight), _mm_mullo_epi32(dxy, dxy)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), response);
    const __m128i sign = _mm_and_si128(_mm_cmpgt_epi32(_mm_add_epi32(dxx, dyy), _mm_set1_epi32(-1)),
                                       _mm_set1_epi32(1));
    const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(sign, sign), _mm_setzero_si128());
    const int32_t packed = _mm_cvtsi128_si32(bytes);
    std::memcpy(lap + c, &packed, 4);
  }
  return c;
}
#endif

#if VORNIK_RESPONSE_AVX2
// Eight neighbouring cells of a step-2 layer, as evenLanes: the second load
// starts at p + 7, so nothing past p[14], the last value used, is read.
__attribute__((target("avx2"))) inline __m256i evenLanes8(const uint32_t* p) {
  const __m256 a = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  const __m256 b = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 7)));
  // Per half: p0 p2 p8 p10 | p4 p6 p12 p14, then the middle quarters swap.
  const __m256 mixed = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 2, 0));
  return _mm256_permute4x64_epi64(_mm256_castps_si256(mixed), _MM_SHUFFLE(3, 1, 2, 0));
}

__attribute__((target("avx2"))) inline __m256i boxSums8(const uint32_t* p, const ptrdiff_t* q) {
  return _mm256_add_epi32(
      _mm256_sub_epi32(_mm256_sub_epi32(evenLanes8(p + q[3]), evenLanes8(p + q[1])),
                       evenLanes8(p + q[2])),
      evenLanes8(p + q[0]));
}

// divideByArea for eight lanes.
__attribute__((target("avx2"))) inline __m256i divideByArea8(__m256i n, __m256d reciprocal,
                                                             __m256i area) {
  const __m128i low =
      _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(n)), reciprocal));
  const __m128i high = _mm256_cvttpd_epi32(
      _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(n, 1)), reciprocal));
  const __m256i q = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  const __m256i remainder = _mm256_sub_epi32(n, _mm256_mullo_epi32(q, area));
  return _mm256_add_epi32(
      _mm256_sub_epi32(q, _mm256_cmpeq_epi32(remainder, area)),
      _mm256_cmpeq_epi32(remainder, _mm256_sub_epi32(_mm256_setzero_si256(), area)));
}

// responseRowSse41 eight cells at a time.
__attribute__((target("avx2"))) int32_t responseRowAvx2(
    const uint32_t* row, int32_t begin, int32_t end, int32_t area, const ptrdiff_t xx[8],
    const ptrdiff_t yy[8], const ptrdiff_t xy[16], int32_t* out, uint8_t* lap) {
  const __m256d reciprocal = _mm256_set1_pd(1.0 / static_cast<double>(area));
  const __m256i areaI = _mm256_set1_epi32(area);
  int32_t c = begin;
  for (; c + 8 <= end; c += 8) {
    const uint32_t* p = row + 2 * static_cast<ptrdiff_t>(c);
    const __m256i middleX = boxSums8(p, xx + 4);
    const __m256i middleY = boxSums8(p, yy + 4);
    const __m256i dxx = divideByArea8(
        _mm256_sub_epi32(boxSums8(p, xx), _mm256_add_epi32(middleX, _mm256_slli_epi32(middleX, 1))),
        reciprocal, areaI);
    const __m256i dyy = divideByArea8(
        _mm256_sub_epi32(boxSums8(p, yy), _mm256_add_epi32(middleY, _mm256_slli_epi32(middleY, 1))),
        reciprocal, areaI);
    const __m256i dxy =
        divideByArea8(_mm256_sub_epi32(_mm256_add_epi32(boxSums8(p, xy), boxSums8(p, xy + 4)),
                                       _mm256_add_epi32(boxSums8(p, xy + 8), boxSums8(p, xy + 12))),
                      reciprocal, areaI);
    const __m256i response = _mm256_sub_epi32(
        _mm256_mullo_epi32(_mm256_set1_epi32(kDiagonalWeight), _mm256_mullo_epi32(dxx, dyy)),
        _mm256_mullo_epi32(_mm256_set1_epi32(kMixedWeight), _mm256_mullo_epi32(dxy, dxy)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), response);
    const __m256i sign =
        _mm256_and_si256(_mm256_cmpgt_epi32(_mm256_add_epi32(dxx, dyy), _mm256_set1_epi32(-1)),
                         _mm256_set1_epi32(1));
    const __m128i words =
        _mm_packs_epi32(_mm256_castsi256_si128(sign), _mm256_extracti128_si256(sign, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(lap + c),
                     _mm_packs_epi16(words, _mm_setzero_si128()));
  }
  return c;
}
#endif

// The filter size is a template argument so the divisions by the area become
// multiplications.
// A vector form for the cells of one row of a step-2 layer; returns the
// first cell it left for the scalar loop.
using ResponseRowKernel = int32_t (*)(const uint32_t* row, int32_t begin, int32_t end, int32_t area,
                                      const ptrdiff_t xx[8], const ptrdiff_t yy[8],
                                      const ptrdiff_t xy[16], int32_t* out, uint8_t* lap);

// The forms this processor runs, the scalar reference (no row kernel) first.
const std::vector<NamedKernel<ResponseRowKernel>>& rowKernels() {
  static const std::vector<NamedKernel<ResponseRowKernel>> forms = [] {
    std::vector<NamedKernel<ResponseRowKernel>> f = {{"scalar", nullptr}};
#if VORNIK_RESPONSE_SSE41
    if (cpuHasSse41()) f.push_back({"sse4.1", responseRowSse41});
#endif
#if VORNIK_RESPONSE_AVX2
    if (cpuHasAvx2()) f.push_back({"avx2", responseRowAvx2});
#endif
    return f;
  }();
  return forms;
}

template <int32_t F>
void computeLayer(const IntegralImage& integral, ResponseLayer* layer,
                  ResponseRowKernel rowKernel) {
  constexpr int32_t b = (F - 1) / 2;
  constexpr int32_t l = F / 3;
  constexpr int32_t area = F * F;
  const int32_t band = layer->band();
  const int32_t step = layer->step;
  const ptrdiff_t s = integral.stride();
  const uint32_t* base = integral.data();
  // Inclusive rectangle rows y0..y1, columns x0..x1 relative to the centre.
  struct Box {
    ptrdiff_t a, bb, c, d;  // offsets of [y0][x0], [y0][x1+1], [y1+1][x0], [y1+1][x1+1]
  };
  auto box = [s](int32_t y0, int32_t y1, int32_t x0, int32_t x1) {
    return Box{y0 * s + x0, y0 * s + (x1 + 1), (y1 + 1) * s + x0, (y1 + 1) * s + (x1 + 1)};
  };
  const Box xxOuter = box(-l + 1, l - 1, -b, b);
  const Box xxMiddle = box(-l + 1, l - 1, -l / 2, -l / 2 + l - 1);
  const Box yyOuter = box(-b, b, -l + 1, l - 1);
  const Box yyMiddle = box(-l / 2, -l / 2 + l - 1, -l + 1, l - 1);
  const Box xyUpperRight = box(-b, -1, 1, b);
  const Box xyLowerLeft = box(1, b, -b, -1);
  const Box xyUpperLeft = box(-b, -1, -b, -1);
  const Box xyLowerRight = box(1, b, 1, b);

  for (int32_t r = band; r < layer->height - band; ++r) {
    int32_t* out = &layer->responses[static_cast<size_t>(r) * layer->width];
    uint8_t* lap = &layer->laplacian[static_cast<size_t>(r) * layer->width];
    const uint32_t* row = base + static_cast<ptrdiff_t>(r) * step * s;
    int32_t c = band;
#if VORNIK_RESPONSE_SSE41
    if (step == 2 && rowKernel != nullptr) {
      const ptrdiff_t xx[8] = {xxOuter.a,  xxOuter.bb,  xxOuter.c,  xxOuter.d,
                               xxMiddle.a, xxMiddle.bb, xxMiddle.c, xxMiddle.d};
      const ptrdiff_t yy[8] = {yyOuter.a,  yyOuter.bb,  yyOuter.c,  yyOuter.d,
                               yyMiddle.a, yyMiddle.bb, yyMiddle.c, yyMiddle.d};
      const ptrdiff_t xy[16] = {xyUpperRight.a, xyUpperRight.bb, xyUpperRight.c, xyUpperRight.d,
                                xyLowerLeft.a,  xyLowerLeft.bb,  xyLowerLeft.c,  xyLowerLeft.d,
                                xyUpperLeft.a,  xyUpperLeft.bb,  xyUpperLeft.c,  xyUpperLeft.d,
                                xyLowerRight.a, xyLowerRight.bb, xyLowerRight.c, xyLowerRight.d};
      c = rowKernel(row, band, layer->width - band, area, xx, yy, xy, out, lap);
    }
#endif
    for (; c < layer->width - band; ++c) {
      const uint32_t* p = row + static_cast<ptrdiff_t>(c) * step;
      auto sum = [p](const Box& q) {
        return static_cast<int32_t>(p[q.d] - p[q.bb] - p[q.c] + p[q.a]);
      };
      const int32_t dxx = (sum(xxOuter) - 3 * sum(xxMiddle)) / area;
      const int32_t dyy = (sum(yyOuter) - 3 * sum(yyMiddle)) / area;
      const int32_t dxy =
          (sum(xyUpperRight) + sum(xyLowerLeft) - sum(xyUpperLeft) - sum(xyLowerRight)) / area;
      out[c] = kDiagonalWeight * dxx * dyy - kMixedWeight * dxy * dxy;
      lap[c] = dxx + dyy >= 0 ? 1 : 0;
    }
  }
}

// Any other filter size, with run-time constants.
void computeLayerGeneric(const IntegralImage& integral, ResponseLayer* layer) {
  const int32_t f = layer->filterSize;
  const int32_t b = (f - 1) / 2;
  const int32_t l = f / 3;
  const int32_t area = f * f;
  const int32_t band = layer->band();
  auto S = [&](int32_t y0, int32_t y1, int32_t x0, int32_t x1) {
    return boxSum(integral, y0, y1 + 1, x0, x1 + 1);
  };
  for (int32_t r = band; r < layer->height - band; ++r) {
    for (int32_t c = band; c < layer->width - band; ++c) {
      const int32_t y = r * layer->step;
      const int32_t x = c * layer->step;
      const int32_t dxx = (S(y - l + 1, y + l - 1, x - b, x + b) -
                           3 * S(y - l + 1, y + l - 1, x - l / 2, x - l / 2 + l - 1)) /
                          area;
      const int32_t dyy = (S(y - b, y + b, x - l + 1, x + l - 1) -
                           3 * S(y - l / 2, y - l / 2 + l - 1, x - l + 1, x + l - 1)) /
                          area;
      const int32_t dxy = (S(y - b, y - 1, x + 1, x + b) + S(y + 1, y + b, x - b, x - 1) -
                           S(y - b, y - 1, x - b, x - 1) - S(y + 1, y + b, x + 1, x + b)) /
                          area;
      const size_t i = static_cast<size_t>(r) * layer->width + c;
      layer->responses[i] = kDiagonalWeight * dxx * dyy - kMixedWeight * dxy * dxy;
      layer->laplacian[i] = dxx + dyy >= 0 ? 1 : 0;
    }
  }
}

}  // namespace

ResponseLayer::ResponseLayer(int32_t w, int32_t h, int32_t st, int32_t f)
    : width(std::max(w, 0)),
      height(std::max(h, 0)),
      step(std::max(st, 1)),
      filterSize(f),
      responses(static_cast<size_t>(width) * height, 0),
      laplacian(static_cast<size_t>(width) * height, 0) {}

int32_t ResponseLayer::band() const {
  // ceil((f - 1) / (2 step))
  return (filterSize - 1 + 2 * step - 1) / (2 * step);
}

std::vector<std::string> ResponseLayer::forms() {
  std::vector<std::string> names;
  for (const auto& form : rowKernels()) names.push_back(form.name);
  return names;
}

void ResponseLayer::compute(const IntegralImage& integral, int32_t form) {
  const auto& kernels = rowKernels();
  if (form < 0 || form >= static_cast<int32_t>(kernels.size())) {
    form = static_cast<int32_t>(kernels.size()) - 1;
  }
  const ResponseRowKernel rowKernel = kernels[static_cast<size_t>(form)].run;
  // Outside the band nothing is written, so those cells stay 0 from the
  // constructor. The band also keeps every box inside the image as long as
  // the layer is no larger than the image divided by the step.
  if (integral.width() < width * step || integral.height() < height * step) return;
  if (step == 2 && filterSize == 21) {
    computeLayer<21>(integral, this, rowKernel);
  } else if (step == 2 && filterSize == 45) {
    computeLayer<45>(integral, this, rowKernel);
  } else {
    computeLayerGeneric(integral, this);
  }
}

}  // namespace vornik
