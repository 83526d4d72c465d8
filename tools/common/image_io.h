#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vornik {

// 8-bit raster, rows tightly packed: one grey byte per pixel (channels 1) or
// blue, green, red (channels 3).
struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> pixels;

  Image() = default;
  Image(int w, int h, int c, uint8_t fill = 0)
      : width(w), height(h), channels(c), pixels(static_cast<size_t>(w) * h * c, fill) {}
  bool empty() const { return width <= 0 || height <= 0 || pixels.empty(); }
  uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * width * channels; }
  const uint8_t* row(int y) const {
    return pixels.data() + static_cast<size_t>(y) * width * channels;
  }
};

// Reads a JPEG or PNG file (recognised by its signature, not its name). Grey
// files give 1 channel, colour files 3 (BGR); alpha is dropped. On failure
// returns false and sets `error` to a one-line reason.
bool readImage(const std::string& path, Image* image, std::string* error);
bool decodeJpeg(const uint8_t* data, size_t size, Image* image, std::string* error);
bool decodePng(const uint8_t* data, size_t size, Image* image, std::string* error);

// quality 1..100.
bool encodeJpeg(const Image& image, int quality, std::vector<uint8_t>* out, std::string* error);
bool writeJpeg(const std::string& path, const Image& image, int quality, std::string* error);
bool writePng(const std::string& path, const Image& image, std::string* error);
// By the name's extension: ".png" writes PNG, anything else JPEG.
bool writeImage(const std::string& path, const Image& image, int jpegQuality, std::string* error);

// Channel conversions; a 3-channel input to toBgr (or 1-channel to toGray) is
// returned as is. Grey uses the integer weights (29 B + 150 G + 77 R) >> 8.
Image toBgr(const Image& image);
Image toGray(const Image& image);

}  // namespace vornik
