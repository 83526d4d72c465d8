#include "features/gray_image.h"

#include <algorithm>
#include <cstring>

#include "features/gray_kernels.h"

namespace vornik {

void convertToGray(const uint8_t* bgr, size_t count, uint8_t* gray) {
  bestGrayConversion()(bgr, count, gray);
}

void downsampleHalfInto(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst) {
  bestHalfDownsampling()(src, width, height, dst);
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

GrayImage::GrayImage(int32_t w, int32_t h, Uninitialised)
    : width(std::max(w, 0)),
      height(std::max(h, 0)),
      pixels(new uint8_t[static_cast<size_t>(width) * static_cast<size_t>(height)]) {}

std::unique_ptr<GrayImage> downsampleHalf(const GrayImage& src) {
  auto dst =
      std::make_unique<GrayImage>(src.width >> 1, src.height >> 1, GrayImage::Uninitialised{});
  downsampleHalfInto(src.pixels.get(), src.width, src.height, dst->pixels.get());
  return dst;
}

}  // namespace vornik
