#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Image loaders sit outside the library namespace, like the frame listener;
// they are also reachable as vornik::IImageLoader and vornik::ImageLoaderJPG.

// Loads an image file into a new pixel buffer: rows top to bottom without
// padding, grey = 1 byte per pixel, colour = 3 bytes per pixel B, G, R.
class IImageLoader {
 public:
  virtual bool canLoad(const std::string& path) const = 0;
  // On success all four outputs are set and the caller owns `pixels` (new[]).
  virtual bool load(std::string path, int32_t& width, int32_t& height, int32_t& grey,
                    uint8_t*& pixels) const = 0;

 protected:
  // Loaders are never deleted through the interface.
  ~IImageLoader() = default;
};

// JPEG decoding on libjpeg: grey stays grey, colour becomes B, G, R, CMYK is
// folded into B, G, R. Nothing is printed; a truncated stream ends at the
// missing data and still decodes.
class ImageLoaderJPG final : public IImageLoader {
 public:
  // Rows of this many bytes or more (components x width) are rejected.
  static constexpr size_t kMaxRowBytes = 65535;
  // Decoded images above this many bytes are rejected before decoding.
  static constexpr size_t kMaxImageBytes = size_t{1} << 28;

  // True when the text after the last "." is exactly "jpg" or "jpeg".
  bool canLoad(const std::string& path) const override;
  bool load(std::string path, int32_t& width, int32_t& height, int32_t& grey,
            uint8_t*& pixels) const override;

  // Decodes `byteCount` bytes read from the current position of an open file
  // (never more than the file holds); the file stays open, positioned after
  // the bytes read.
  static bool decodeRegion(std::FILE* file, uint32_t byteCount, int32_t& width, int32_t& height,
                           int32_t& grey, uint8_t*& pixels);
  // Decodes a JPEG held in memory.
  static bool decodeMemory(const uint8_t* data, size_t size, int32_t& width, int32_t& height,
                           int32_t& grey, uint8_t*& pixels);
};

namespace vornik {
using ::IImageLoader;
using ::ImageLoaderJPG;
}  // namespace vornik
