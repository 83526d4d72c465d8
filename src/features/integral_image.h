#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornik {

// Summed-area table of a grey image: entry [r][c] is the sum of the pixels
// with row < r and column < c; row 0 and column 0 hold 0. Entries wrap
// modulo 2^32, so box sums stay exact for every box whose true sum fits an
// int32, whatever the image size.
class IntegralImage {
 public:
  IntegralImage(int32_t width, int32_t height);

  // Fills the table from packed pixels: 3-byte blue-green-red (converted
  // with toGray) when `bgr`, else one grey byte per pixel.
  void compute(const uint8_t* pixels, bool bgr);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  int32_t stride() const { return width_ + 1; }
  const uint32_t* data() const { return sums_.data(); }
  uint32_t at(int32_t row, int32_t col) const {
    return sums_[static_cast<size_t>(row) * (width_ + 1) + col];
  }

 private:
  int32_t width_;
  int32_t height_;
  std::vector<uint32_t> sums_;
  std::vector<uint8_t> grayRow_;
};

// Sum over rows [r0, r1) and columns [c0, c1), clipped to the image; 0 for a
// rectangle wholly outside or empty.
int32_t boxSum(const IntegralImage& integral, int32_t r0, int32_t r1, int32_t c0, int32_t c1);

// Haar wavelet responses of size n (h = n / 2) centred at (row, column):
// right half minus left half, and lower half minus upper half.
int32_t haarX(const IntegralImage& integral, int32_t row, int32_t column, int32_t n);
int32_t haarY(const IntegralImage& integral, int32_t row, int32_t column, int32_t n);

}  // namespace vornik
