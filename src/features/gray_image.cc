#include "features/gray_image.h"

#include <algorithm>
#include <cstring>

namespace vornik {

void convertToGray(const uint8_t* bgr, size_t count, uint8_t* gray) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = bgr + 3 * i;
    gray[i] = static_cast<uint8_t>((29u * p[0] + 150u * p[1] + 77u * p[2]) >> 8);
  }
}

GrayImage::GrayImage(int32_t w, int32_t h, const uint8_t* source, bool convert)
    : width(std::max(w, 0)), height(std::max(h, 0)) {
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (source == nullptr) {
    pixels.reset(new uint8_t[count]());
  } else {
    pixels.reset(new uint8_t[count]);
    if (convert) {
      convertToGray(source, count, pixels.get());
    } else if (count > 0) {
      std::memcpy(pixels.get(), source, count);
    }
  }
}

void downsampleHalfInto(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst) {
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

std::unique_ptr<GrayImage> downsampleHalf(const GrayImage& src) {
  auto dst = std::make_unique<GrayImage>(src.width >> 1, src.height >> 1);
  downsampleHalfInto(src.pixels.get(), src.width, src.height, dst->pixels.get());
  return dst;
}

}  // namespace vornik
