#include "common/image_io.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include <png.h>

#include "database/image_loader_jpg.h"
#include "database/jpeg_writer.h"

namespace vornik {
namespace {

void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

bool validImage(const Image& image, std::string* error) {
  if (image.width <= 0 || image.height <= 0 || (image.channels != 1 && image.channels != 3) ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height * image.channels) {
    setError(error, "invalid image (size, channel count or pixel buffer)");
    return false;
  }
  return true;
}

bool readFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    setError(error, "cannot open '" + path + "'");
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    setError(error, "cannot read '" + path + "'");
    return false;
  }
  return true;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    setError(error, "cannot create '" + path + "'");
    return false;
  }
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    setError(error, "cannot write '" + path + "'");
    return false;
  }
  return true;
}

}  // namespace

bool decodeJpeg(const uint8_t* data, size_t size, Image* image, std::string* error) {
  if (!data || size == 0 || !image) {
    setError(error, "empty JPEG data");
    return false;
  }
  // The library's own decoder, so tools see target images and frames with
  // exactly the pixels the library sees.
  int32_t width = 0, height = 0, grey = 0;
  uint8_t* pixels = nullptr;
  if (!ImageLoaderJPG::decodeMemory(data, size, width, height, grey, pixels)) {
    setError(error, "corrupt or unsupported JPEG data");
    return false;
  }
  const std::unique_ptr<uint8_t[]> owned(pixels);
  Image result(width, height, grey ? 1 : 3);
  std::memcpy(result.pixels.data(), owned.get(), result.pixels.size());
  *image = std::move(result);
  return true;
}

bool encodeJpeg(const Image& image, int quality, std::vector<uint8_t>* out, std::string* error) {
  if (!validImage(image, error)) return false;
  if (quality < 1 || quality > 100) {
    setError(error, "JPEG quality must be 1..100");
    return false;
  }
  if (!out ||
      !encodeJpeg(image.pixels.data(), image.width, image.height, image.channels, quality, *out)) {
    setError(error, "JPEG encoding failed");
    return false;
  }
  return true;
}

bool decodePng(const uint8_t* data, size_t size, Image* image, std::string* error) {
  if (!data || size < 8 || !image) {
    setError(error, "empty PNG data");
    return false;
  }
  png_image png;
  std::memset(&png, 0, sizeof(png));
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, data, size)) {
    setError(error, std::string("corrupt PNG: ") + png.message);
    png_image_free(&png);
    return false;
  }
  const bool colour = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
  png.format = colour ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY;
  Image result(static_cast<int>(png.width), static_cast<int>(png.height), colour ? 3 : 1);
  if (result.width <= 0 || result.height <= 0 ||
      !png_image_finish_read(&png, nullptr, result.pixels.data(),
                             static_cast<png_int_32>(result.width * result.channels), nullptr)) {
    setError(error, std::string("corrupt PNG: ") + png.message);
    png_image_free(&png);
    return false;
  }
  *image = std::move(result);
  return true;
}

bool readImage(const std::string& path, Image* image, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!readFile(path, &bytes, error)) return false;
  static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  bool ok = false;
  std::string reason;
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0) {
    ok = decodePng(bytes.data(), bytes.size(), image, &reason);
  } else if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
    ok = decodeJpeg(bytes.data(), bytes.size(), image, &reason);
  } else {
    reason = "not a JPEG or PNG file";
  }
  if (!ok) setError(error, "cannot read image '" + path + "': " + reason);
  return ok;
}

bool writeJpeg(const std::string& path, const Image& image, int quality, std::string* error) {
  std::vector<uint8_t> bytes;
  return encodeJpeg(image, quality, &bytes, error) && writeFile(path, bytes, error);
}

bool writePng(const std::string& path, const Image& image, std::string* error) {
  if (!validImage(image, error)) return false;
  png_image png;
  std::memset(&png, 0, sizeof(png));
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = image.channels == 3 ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  const png_int_32 stride = image.width * image.channels;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.pixels.data(), stride, nullptr)) {
    setError(error, std::string("PNG encoding failed: ") + png.message);
    return false;
  }
  std::vector<uint8_t> bytes(size);
  if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, image.pixels.data(), stride,
                                 nullptr)) {
    setError(error, std::string("PNG encoding failed: ") + png.message);
    return false;
  }
  bytes.resize(size);
  return writeFile(path, bytes, error);
}

bool writeImage(const std::string& path, const Image& image, int jpegQuality, std::string* error) {
  const size_t dot = path.find_last_of('.');
  std::string extension = dot == std::string::npos ? "" : path.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".png") return writePng(path, image, error);
  return writeJpeg(path, image, jpegQuality, error);
}

Image toBgr(const Image& image) {
  if (image.channels != 1) return image;
  Image result(image.width, image.height, 3);
  const size_t count = static_cast<size_t>(image.width) * image.height;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t v = image.pixels[i];
    result.pixels[3 * i] = result.pixels[3 * i + 1] = result.pixels[3 * i + 2] = v;
  }
  return result;
}

Image toGray(const Image& image) {
  if (image.channels != 3) return image;
  Image result(image.width, image.height, 1);
  const size_t count = static_cast<size_t>(image.width) * image.height;
  const uint8_t* p = image.pixels.data();
  for (size_t i = 0; i < count; ++i, p += 3) {
    result.pixels[i] = static_cast<uint8_t>((29 * p[0] + 150 * p[1] + 77 * p[2]) >> 8);
  }
  return result;
}

}  // namespace vornik
