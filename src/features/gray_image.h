#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vornik {

// Grey value of one blue-green-red pixel (bytes in memory order). The weights
// add up to 256, so white stays 255; stored descriptors were built with the
// same integer formula, so it must not change.
inline uint8_t toGray(uint8_t b0, uint8_t b1, uint8_t b2) {
  return static_cast<uint8_t>((29u * b0 + 150u * b1 + 77u * b2) >> 8);
}

// Converts `count` packed blue-green-red pixels to grey with toGray (SIMD
// where the processor has it, byte for byte the scalar form's result).
void convertToGray(const uint8_t* bgr, size_t count, uint8_t* gray);

// Plain 8-bit grey raster, rows packed without gaps (stride = width).
struct GrayImage {
  // Allocates width x height bytes. A null source leaves them 0; otherwise
  // they are copied (convert false) or converted from 3-byte blue-green-red
  // pixels (convert true; callers pass pixelFormat == 0). Negative sizes are
  // treated as 0.
  GrayImage(int32_t width, int32_t height, const uint8_t* source = nullptr, bool convert = false);
  // Allocates without filling, for images that are overwritten at once.
  struct Uninitialised {};
  GrayImage(int32_t width, int32_t height, Uninitialised);

  GrayImage(const GrayImage&) = delete;
  GrayImage& operator=(const GrayImage&) = delete;

  uint8_t at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }

  int32_t width;
  int32_t height;
  std::unique_ptr<uint8_t[]> pixels;
};

// Half-size copy: each pixel is the truncated mean of a 2 x 2 block; an odd
// last column or row of the source is ignored.
std::unique_ptr<GrayImage> downsampleHalf(const GrayImage& src);

// Writes the half-size image of the packed raster src to dst, which holds
// (width >> 1) x (height >> 1) packed bytes.
void downsampleHalfInto(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst);

}  // namespace vornik
