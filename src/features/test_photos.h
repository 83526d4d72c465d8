#pragma once
// Test-only helpers: decodes the sample photos with libjpeg so feature tests
// can run on real images without the library's own loader.
#include <jpeglib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "features/gray_image.h"

namespace vornik {
namespace testing_photos {

struct Photo {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> gray;  // one byte per pixel
  std::vector<uint8_t> bgr;   // three bytes per pixel, blue-green-red
};

// Decodes the JPEG file at `path`; an empty Photo if it cannot be read.
inline Photo loadPhoto(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
  if (bytes.empty()) return Photo{};
  Photo photo;
  jpeg_decompress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);  // a corrupt photo ends the test program
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&info);
  photo.width = static_cast<int32_t>(info.output_width);
  photo.height = static_cast<int32_t>(info.output_height);
  photo.bgr.resize(static_cast<size_t>(photo.width) * photo.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &photo.bgr[static_cast<size_t>(info.output_scanline) * photo.width * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  photo.gray.resize(static_cast<size_t>(photo.width) * photo.height);
  convertToGray(photo.bgr.data(), photo.gray.size(), photo.gray.data());
  return photo;
}

inline std::string photoPath(const std::string& name) {
  return std::string(VORNIK_DATA_DIR) + "/photos/" + name;
}

// Grey crop of `width` x `height` at (x0, y0); pixels outside the photo
// repeat its border.
inline std::vector<uint8_t> grayCrop(const Photo& photo, int32_t x0, int32_t y0, int32_t width,
                                     int32_t height) {
  std::vector<uint8_t> out(static_cast<size_t>(width) * height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const int32_t sx = std::min(std::max(x0 + x, 0), photo.width - 1);
      const int32_t sy = std::min(std::max(y0 + y, 0), photo.height - 1);
      out[static_cast<size_t>(y) * width + x] =
          photo.gray[static_cast<size_t>(sy) * photo.width + sx];
    }
  }
  return out;
}

inline const char* const kPhotoNames[] = {
    "astronaut.jpg", "brick.jpg",  "camera.jpg", "chelsea.jpg", "coffee.jpg", "grass.jpg",
    "gravel.jpg",    "hubble.jpg", "retina.jpg", "rocket.jpg",  "text.jpg"};

}  // namespace testing_photos
}  // namespace vornik
