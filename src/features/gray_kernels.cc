#include "features/gray_kernels.h"

#include "features/gray_image.h"
#include "platform/cpu_features.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VORNIK_HAVE_X86_PATHS 1
// MinGW's GCC does not align the stack to 32 bytes, so a spilled 256-bit
// register could fault: Windows builds keep to the 128-bit forms.
#if !defined(_WIN32)
#define VORNIK_HAVE_AVX2_PATHS 1
#endif
#endif

namespace vornik {

void convertToGrayScalar(const uint8_t* bgr, size_t count, uint8_t* gray) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = bgr + 3 * i;
    gray[i] = toGray(p[0], p[1], p[2]);
  }
}

void downsampleHalfScalar(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst) {
  const int32_t dw = width >> 1;
  const int32_t dh = height >> 1;
  for (int32_t y = 0; y < dh; ++y) {
    const uint8_t* r0 = src + static_cast<size_t>(2 * y) * width;
    const uint8_t* r1 = r0 + width;
    uint8_t* out = dst + static_cast<size_t>(y) * dw;
    for (int32_t x = 0; x < dw; ++x) {
      out[x] = static_cast<uint8_t>(
          (unsigned{r0[2 * x]} + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1]) >> 2);
    }
  }
}

namespace {

#if defined(VORNIK_HAVE_X86_PATHS)
// Eight pixels: bytes 0..15 in lo and 8..23 in hi; each channel takes five
// pixels from lo and three from hi, widened to 16 bits. The weighted sum is
// at most 255 * 256, so 16-bit lanes hold it without loss.
__attribute__((target("ssse3"))) inline __m128i grayOfEight(const uint8_t* p) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
  const char z = static_cast<char>(0x80);
  const __m128i bLo = _mm_setr_epi8(0, z, 3, z, 6, z, 9, z, 12, z, z, z, z, z, z, z);
  const __m128i bHi = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, 7, z, 10, z, 13, z);
  const __m128i gLo = _mm_setr_epi8(1, z, 4, z, 7, z, 10, z, 13, z, z, z, z, z, z, z);
  const __m128i gHi = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, 8, z, 11, z, 14, z);
  const __m128i rLo = _mm_setr_epi8(2, z, 5, z, 8, z, 11, z, 14, z, z, z, z, z, z, z);
  const __m128i rHi = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, 9, z, 12, z, 15, z);
  const __m128i b = _mm_or_si128(_mm_shuffle_epi8(lo, bLo), _mm_shuffle_epi8(hi, bHi));
  const __m128i g = _mm_or_si128(_mm_shuffle_epi8(lo, gLo), _mm_shuffle_epi8(hi, gHi));
  const __m128i r = _mm_or_si128(_mm_shuffle_epi8(lo, rLo), _mm_shuffle_epi8(hi, rHi));
  const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(b, _mm_set1_epi16(29)),
                                                  _mm_mullo_epi16(g, _mm_set1_epi16(150))),
                                    _mm_mullo_epi16(r, _mm_set1_epi16(77)));
  return _mm_srli_epi16(sum, 8);
}

__attribute__((target("ssse3"))) void convertToGraySsse3(const uint8_t* bgr, size_t count,
                                                         uint8_t* gray) {
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i first = grayOfEight(bgr + 3 * i);
    const __m128i second = grayOfEight(bgr + 3 * i + 24);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(gray + i), _mm_packus_epi16(first, second));
  }
  convertToGrayScalar(bgr + 3 * i, count - i, gray + i);
}

#if defined(VORNIK_HAVE_AVX2_PATHS)
// As grayOfEight, for pixels 0-7 in the low lane and 8-15 in the high one.
__attribute__((target("avx2"))) inline __m256i grayOfSixteen(const uint8_t* p) {
  const __m256i lo = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 24),
                                         reinterpret_cast<const __m128i*>(p));
  const __m256i hi = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 32),
                                         reinterpret_cast<const __m128i*>(p + 8));
  const char z = static_cast<char>(0x80);
  const __m256i bLo = _mm256_setr_epi8(0, z, 3, z, 6, z, 9, z, 12, z, z, z, z, z, z, z,  //
                                       0, z, 3, z, 6, z, 9, z, 12, z, z, z, z, z, z, z);
  const __m256i bHi = _mm256_setr_epi8(z, z, z, z, z, z, z, z, z, z, 7, z, 10, z, 13, z,  //
                                       z, z, z, z, z, z, z, z, z, z, 7, z, 10, z, 13, z);
  const __m256i gLo = _mm256_setr_epi8(1, z, 4, z, 7, z, 10, z, 13, z, z, z, z, z, z, z,  //
                                       1, z, 4, z, 7, z, 10, z, 13, z, z, z, z, z, z, z);
  const __m256i gHi = _mm256_setr_epi8(z, z, z, z, z, z, z, z, z, z, 8, z, 11, z, 14, z,  //
                                       z, z, z, z, z, z, z, z, z, z, 8, z, 11, z, 14, z);
  const __m256i rLo = _mm256_setr_epi8(2, z, 5, z, 8, z, 11, z, 14, z, z, z, z, z, z, z,  //
                                       2, z, 5, z, 8, z, 11, z, 14, z, z, z, z, z, z, z);
  const __m256i rHi = _mm256_setr_epi8(z, z, z, z, z, z, z, z, z, z, 9, z, 12, z, 15, z,  //
                                       z, z, z, z, z, z, z, z, z, z, 9, z, 12, z, 15, z);
  const __m256i b = _mm256_or_si256(_mm256_shuffle_epi8(lo, bLo), _mm256_shuffle_epi8(hi, bHi));
  const __m256i g = _mm256_or_si256(_mm256_shuffle_epi8(lo, gLo), _mm256_shuffle_epi8(hi, gHi));
  const __m256i r = _mm256_or_si256(_mm256_shuffle_epi8(lo, rLo), _mm256_shuffle_epi8(hi, rHi));
  const __m256i sum =
      _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(b, _mm256_set1_epi16(29)),
                                        _mm256_mullo_epi16(g, _mm256_set1_epi16(150))),
                       _mm256_mullo_epi16(r, _mm256_set1_epi16(77)));
  return _mm256_srli_epi16(sum, 8);
}

__attribute__((target("avx2"))) void convertToGrayAvx2(const uint8_t* bgr, size_t count,
                                                       uint8_t* gray) {
  size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    const __m256i first = grayOfSixteen(bgr + 3 * i);
    const __m256i second = grayOfSixteen(bgr + 3 * i + 48);
    // Packing works per lane: put the four 8-pixel quarters back in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), 0xd8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(gray + i), packed);
  }
  convertToGrayScalar(bgr + 3 * i, count - i, gray + i);
}
#endif
#endif

#if defined(__SSE2__)
// Sums of horizontally neighbouring bytes as 16-bit lanes.
inline __m128i pairSums(__m128i v) {
  const __m128i even = _mm_and_si128(v, _mm_set1_epi16(0x00ff));
  return _mm_add_epi16(even, _mm_srli_epi16(v, 8));
}

void downsampleHalfSse2(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst) {
  const int32_t dw = width >> 1;
  const int32_t dh = height >> 1;
  for (int32_t y = 0; y < dh; ++y) {
    const uint8_t* r0 = src + static_cast<size_t>(2 * y) * width;
    const uint8_t* r1 = r0 + width;
    uint8_t* out = dst + static_cast<size_t>(y) * dw;
    int32_t x = 0;
    for (; x + 16 <= dw; x += 16) {
      const __m128i* a = reinterpret_cast<const __m128i*>(r0 + 2 * x);
      const __m128i* b = reinterpret_cast<const __m128i*>(r1 + 2 * x);
      const __m128i left = _mm_srli_epi16(
          _mm_add_epi16(pairSums(_mm_loadu_si128(a)), pairSums(_mm_loadu_si128(b))), 2);
      const __m128i right = _mm_srli_epi16(
          _mm_add_epi16(pairSums(_mm_loadu_si128(a + 1)), pairSums(_mm_loadu_si128(b + 1))), 2);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(left, right));
    }
    for (; x < dw; ++x) {
      out[x] = static_cast<uint8_t>(
          (unsigned{r0[2 * x]} + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1]) >> 2);
    }
  }
}
#endif

}  // namespace

std::vector<NamedKernel<GrayConversion>> grayConversions() {
  std::vector<NamedKernel<GrayConversion>> kernels = {{"scalar", convertToGrayScalar}};
#if defined(VORNIK_HAVE_X86_PATHS)
  if (cpuHasSsse3()) kernels.push_back({"ssse3", convertToGraySsse3});
#if defined(VORNIK_HAVE_AVX2_PATHS)
  if (cpuHasAvx2()) kernels.push_back({"avx2", convertToGrayAvx2});
#endif
#endif
  return kernels;
}

std::vector<NamedKernel<HalfDownsampling>> halfDownsamplings() {
  std::vector<NamedKernel<HalfDownsampling>> kernels = {{"scalar", downsampleHalfScalar}};
#if defined(__SSE2__)
  kernels.push_back({"sse2", downsampleHalfSse2});
#endif
  return kernels;
}

GrayConversion bestGrayConversion() {
  static const GrayConversion best = grayConversions().back().run;
  return best;
}

HalfDownsampling bestHalfDownsampling() {
  static const HalfDownsampling best = halfDownsamplings().back().run;
  return best;
}

}  // namespace vornik
