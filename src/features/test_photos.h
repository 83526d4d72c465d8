#pragma once
// Test-only helpers: decodes the sample photos with libjpeg so feature tests
// can run on real images without the library's own loader.
#include <jpeglib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vornik {
namespace testing_photos {

struct Photo {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> gray;  // one byte per pixel
  std::vector<uint8_t> bgr;   // three bytes per pixel, blue-green-red
};

struct JpegErrorExit {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

inline void onJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrorExit*>(info->err)->jump, 1);
}

// Decodes data/photos/<name> (or any path); an empty Photo on failure.
inline Photo loadPhoto(const std::string& path) {
  Photo photo;
  std::vector<uint8_t> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return photo;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  std::fclose(file);
  if (bytes.empty()) return photo;
  jpeg_decompress_struct info;
  JpegErrorExit error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = onJpegError;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return Photo{};
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  const int32_t w = static_cast<int32_t>(info.output_width);
  const int32_t h = static_cast<int32_t>(info.output_height);
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &rgb[static_cast<size_t>(info.output_scanline) * w * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  photo.width = w;
  photo.height = h;
  photo.bgr.resize(rgb.size());
  photo.gray.resize(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < photo.gray.size(); ++i) {
    const uint8_t r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
    photo.bgr[3 * i] = b;
    photo.bgr[3 * i + 1] = g;
    photo.bgr[3 * i + 2] = r;
    photo.gray[i] = static_cast<uint8_t>((29u * b + 150u * g + 77u * r) >> 8);
  }
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
      int32_t sx = x0 + x, sy = y0 + y;
      sx = sx < 0 ? 0 : (sx >= photo.width ? photo.width - 1 : sx);
      sy = sy < 0 ? 0 : (sy >= photo.height ? photo.height - 1 : sy);
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
