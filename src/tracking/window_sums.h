#pragma once
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// 256-bit forms only where the compiler aligns their stack spills (not MinGW).
#if defined(__SSE2__) && defined(__GNUC__) && !defined(_WIN32)
#include <immintrin.h>
#define VORNIK_WINDOW_SUMS_AVX2 1
#endif

#include "platform/cpu_features.h"

namespace vornik {

// Integer sums the normalised cross-correlation of an 8 x 8 template needs
// over one 8 x 8 window: of the window's pixels, their squares, and their
// products with the template's pixels.
struct WindowSums {
  int32_t sumI = 0;
  int32_t sumII = 0;
  int32_t sumIT = 0;
};

// `window` points at the window's top-left pixel in rows `stride` bytes
// apart; `templ` holds 64 bytes, row-major.
using WindowSumsKernel = WindowSums (*)(const uint8_t* window, int32_t stride,
                                        const uint8_t* templ);

WindowSums windowSumsScalar(const uint8_t* window, int32_t stride, const uint8_t* templ);

// The scalar reference first, then the vector forms the processor offers;
// all give the same sums.
std::vector<NamedKernel<WindowSumsKernel>> windowSumsKernels();

#if defined(__SSE2__)
// The template widened to 16 bits once per search, two rows per register.
struct WidenedTemplate {
  __m128i low[4];   // rows 2k, the first 8 of the 16 bytes of rows 2k, 2k + 1
  __m128i high[4];  // row 2k + 1
};

inline WidenedTemplate widenTemplate(const uint8_t* templ) {
  const __m128i zero = _mm_setzero_si128();
  WidenedTemplate w;
  for (int32_t k = 0; k < 4; ++k) {
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(templ + 16 * k));
    w.low[k] = _mm_unpacklo_epi8(t, zero);
    w.high[k] = _mm_unpackhi_epi8(t, zero);
  }
  return w;
}

// Two rows per step, widened to 16 bits; pixel products fit the signed
// 16-bit multiply-add (255 * 255 summed in pairs stays below 2^31).
inline WindowSums windowSumsSse2(const uint8_t* window, int32_t stride,
                                 const WidenedTemplate& templ) {
  const __m128i zero = _mm_setzero_si128();
  __m128i sum = zero;
  __m128i squares = zero;
  __m128i products = zero;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 4
#endif
  for (int32_t k = 0; k < 4; ++k) {
    const uint8_t* row = window + static_cast<intptr_t>(2 * k) * stride;
    const __m128i v =
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row)),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + stride)));
    sum = _mm_add_epi64(sum, _mm_sad_epu8(v, zero));
    const __m128i v0 = _mm_unpacklo_epi8(v, zero);
    const __m128i v1 = _mm_unpackhi_epi8(v, zero);
    squares = _mm_add_epi32(squares, _mm_add_epi32(_mm_madd_epi16(v0, v0), _mm_madd_epi16(v1, v1)));
    products = _mm_add_epi32(products, _mm_add_epi32(_mm_madd_epi16(v0, templ.low[k]),
                                                     _mm_madd_epi16(v1, templ.high[k])));
  }
  // Squares and products: four 32-bit partial sums each; fold both at once.
  const __m128i pairs =
      _mm_add_epi32(_mm_unpacklo_epi32(squares, products), _mm_unpackhi_epi32(squares, products));
  const __m128i folded = _mm_add_epi32(pairs, _mm_unpackhi_epi64(pairs, pairs));
  WindowSums s;
  s.sumI = _mm_cvtsi128_si32(_mm_add_epi32(sum, _mm_unpackhi_epi64(sum, sum)));
  s.sumII = _mm_cvtsi128_si32(folded);
  s.sumIT = _mm_cvtsi128_si32(_mm_shuffle_epi32(folded, _MM_SHUFFLE(1, 1, 1, 1)));
  return s;
}

inline WindowSums windowSumsSse2(const uint8_t* window, int32_t stride, const uint8_t* templ) {
  return windowSumsSse2(window, stride, widenTemplate(templ));
}
#endif

#if VORNIK_WINDOW_SUMS_AVX2
// The template widened to 16 bits for four rows per step: lane k of step j
// holds rows 4j + 2k (low) and 4j + 2k + 1 (high).
struct WidenedTemplateAvx2 {
  __m256i low[2];
  __m256i high[2];
};

__attribute__((target("avx2"))) inline WidenedTemplateAvx2 widenTemplateAvx2(const uint8_t* templ) {
  const __m256i zero = _mm256_setzero_si256();
  WidenedTemplateAvx2 w;
  for (int32_t j = 0; j < 2; ++j) {
    const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(templ + 32 * j));
    w.low[j] = _mm256_unpacklo_epi8(t, zero);
    w.high[j] = _mm256_unpackhi_epi8(t, zero);
  }
  return w;
}

// Four rows per step, in the lane order of widenTemplateAvx2; the same
// bounds as the two-row form hold for every 32-bit lane.
__attribute__((target("avx2"))) inline WindowSums windowSumsAvx2(const uint8_t* window,
                                                                 int32_t stride,
                                                                 const WidenedTemplateAvx2& templ) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i sum = zero;
  __m256i squares = zero;
  __m256i products = zero;
  for (int32_t j = 0; j < 2; ++j) {
    const uint8_t* row = window + static_cast<intptr_t>(4 * j) * stride;
    auto rowPair = [stride](const uint8_t* r) {
      return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r)),
                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(r + stride)));
    };
    const __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(rowPair(row)),
                                              rowPair(row + 2 * static_cast<intptr_t>(stride)), 1);
    sum = _mm256_add_epi64(sum, _mm256_sad_epu8(v, zero));
    const __m256i v0 = _mm256_unpacklo_epi8(v, zero);
    const __m256i v1 = _mm256_unpackhi_epi8(v, zero);
    squares = _mm256_add_epi32(
        squares, _mm256_add_epi32(_mm256_madd_epi16(v0, v0), _mm256_madd_epi16(v1, v1)));
    products = _mm256_add_epi32(products, _mm256_add_epi32(_mm256_madd_epi16(v0, templ.low[j]),
                                                           _mm256_madd_epi16(v1, templ.high[j])));
  }
  const __m256i pairs = _mm256_add_epi32(_mm256_unpacklo_epi32(squares, products),
                                         _mm256_unpackhi_epi32(squares, products));
  const __m128i half =
      _mm_add_epi32(_mm256_castsi256_si128(pairs), _mm256_extracti128_si256(pairs, 1));
  const __m128i folded = _mm_add_epi32(half, _mm_unpackhi_epi64(half, half));
  const __m128i sums = _mm_add_epi64(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
  WindowSums s;
  s.sumI = _mm_cvtsi128_si32(_mm_add_epi64(sums, _mm_unpackhi_epi64(sums, sums)));
  s.sumII = _mm_cvtsi128_si32(folded);
  s.sumIT = _mm_cvtsi128_si32(_mm_shuffle_epi32(folded, _MM_SHUFFLE(1, 1, 1, 1)));
  return s;
}

__attribute__((target("avx2"))) inline WindowSums windowSumsAvx2(const uint8_t* window,
                                                                 int32_t stride,
                                                                 const uint8_t* templ) {
  return windowSumsAvx2(window, stride, widenTemplateAvx2(templ));
}
#endif

// The fastest form; called per window in the spiral search.
inline WindowSums windowSums(const uint8_t* window, int32_t stride, const uint8_t* templ) {
#if defined(__SSE2__)
  return windowSumsSse2(window, stride, templ);
#else
  return windowSumsScalar(window, stride, templ);
#endif
}

}  // namespace vornik
