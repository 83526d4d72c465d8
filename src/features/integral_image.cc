#include "features/integral_image.h"

#include <algorithm>
#include <cstddef>

#include "features/gray_image.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vornik {

IntegralImage::IntegralImage(int32_t width, int32_t height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      sums_(static_cast<size_t>(width_ + 1) * (height_ + 1), 0u),
      grayRow_(static_cast<size_t>(width_)) {}

void IntegralImage::compute(const uint8_t* pixels, bool bgr) {
  if (pixels == nullptr) return;
  const size_t stride = static_cast<size_t>(width_) + 1;
  for (int32_t y = 0; y < height_; ++y) {
    const uint8_t* gray;
    if (bgr) {
      convertToGray(pixels + static_cast<size_t>(y) * width_ * 3, width_, grayRow_.data());
      gray = grayRow_.data();
    } else {
      gray = pixels + static_cast<size_t>(y) * width_;
    }
    const uint32_t* above = &sums_[static_cast<size_t>(y) * stride];
    uint32_t* out = &sums_[static_cast<size_t>(y + 1) * stride];
    uint32_t rowSum = 0;
    out[0] = 0;
    int32_t x = 0;
#if defined(__SSE2__)
    // Prefix sums of four pixels at a time in wrapping 32-bit lanes, the
    // same sums as the loop below.
    const __m128i zero = _mm_setzero_si128();
    __m128i carry = zero;
    auto fourSums = [&](__m128i v, int32_t at) {
      v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
      v = _mm_add_epi32(v, _mm_slli_si128(v, 8));
      v = _mm_add_epi32(v, carry);
      carry = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 3, 3));
      const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + at + 1));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at + 1), _mm_add_epi32(v, up));
    };
    for (; x + 16 <= width_; x += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + x));
      const __m128i low = _mm_unpacklo_epi8(bytes, zero);
      const __m128i high = _mm_unpackhi_epi8(bytes, zero);
      fourSums(_mm_unpacklo_epi16(low, zero), x);
      fourSums(_mm_unpackhi_epi16(low, zero), x + 4);
      fourSums(_mm_unpacklo_epi16(high, zero), x + 8);
      fourSums(_mm_unpackhi_epi16(high, zero), x + 12);
    }
    rowSum = static_cast<uint32_t>(_mm_cvtsi128_si32(carry));
#endif
    for (; x < width_; ++x) {
      rowSum += gray[x];
      out[x + 1] = above[x + 1] + rowSum;
    }
  }
}

int32_t boxSum(const IntegralImage& integral, int32_t r0, int32_t r1, int32_t c0, int32_t c1) {
  r0 = std::max(r0, 0);
  c0 = std::max(c0, 0);
  r1 = std::min(r1, integral.height());
  c1 = std::min(c1, integral.width());
  if (r0 >= r1 || c0 >= c1) return 0;
  return static_cast<int32_t>(integral.at(r1, c1) - integral.at(r0, c1) - integral.at(r1, c0) +
                              integral.at(r0, c0));
}

int32_t haarX(const IntegralImage& integral, int32_t row, int32_t column, int32_t n) {
  const int32_t h = n / 2;
  return boxSum(integral, row - h, row - h + n, column, column + h) -
         boxSum(integral, row - h, row - h + n, column - h, column);
}

int32_t haarY(const IntegralImage& integral, int32_t row, int32_t column, int32_t n) {
  const int32_t h = n / 2;
  return boxSum(integral, row, row + h, column - h, column - h + n) -
         boxSum(integral, row - h, row, column - h, column - h + n);
}

}  // namespace vornik
