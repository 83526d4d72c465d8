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
  // Images of more bytes than this (components x width x height, 4 components
  // while CMYK decodes) are refused before decoding, with a log line. 128 MiB
  // holds every stored target (sides up to 4095 pixels) in any colour space
  // and colour photos of some 40 megapixels given to the database tools, and
  // keeps a decode within what a 32-bit process can count on getting.
  static constexpr size_t kMaxImageBytes = size_t{1} << 27;
  // Budget of libjpeg's own whole-image buffers: multi-scan files keep 2 bytes
  // of coefficients per sample, up to about 2 x kMaxImageBytes for an image
  // within the bound; past it libjpeg fails cleanly.
  static constexpr long kMaxDecoderMemory = 2 * static_cast<long>(kMaxImageBytes);
  // Compressed inputs of more bytes than this are refused before they are
  // read; the JPEG of an image within kMaxImageBytes is normally a fraction of it.
  static constexpr size_t kMaxInputBytes = size_t{1} << 26;

  // True when the text after the last "." is exactly "jpg" or "jpeg".
  bool canLoad(const std::string& path) const override;
  // False, with a log line, for a path that is not a regular file (a
  // directory opens fine on Linux and reports a huge size) or a file of more
  // than kMaxInputBytes.
  bool load(std::string path, int32_t& width, int32_t& height, int32_t& grey,
            uint8_t*& pixels) const override;

  // Decodes `byteCount` bytes read from the current position of an open file
  // (never more than the file holds); the file stays open, positioned after
  // the bytes read. False, before reading, when the remaining bytes cannot be
  // measured, the file is not a regular one or the count exceeds
  // kMaxInputBytes.
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
