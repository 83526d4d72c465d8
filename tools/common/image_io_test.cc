#include "common/image_io.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

namespace vornik {
namespace {

std::string tempPath(const std::string& name) {
  return std::string(VORNIK_BINARY_DIR) + "/toolkit_test_" + name;
}

// Pure red written in red-green-blue order by libjpeg directly, so the
// channel order of the reader is checked against an outside encoder.
std::vector<uint8_t> redJpegFromLibjpeg() {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 16;
  info.image_height = 8;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(16 * 3, 0);
  for (int x = 0; x < 16; ++x) row[3 * x] = 255;
  while (info.next_scanline < info.image_height) {
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&info, &pointer, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> bytes(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  free(buffer);
  return bytes;
}

TEST(ImageIo, ColourOrderIsBlueGreenRed) {
  const std::vector<uint8_t> jpeg = redJpegFromLibjpeg();
  Image image;
  std::string error;
  ASSERT_TRUE(decodeJpeg(jpeg.data(), jpeg.size(), &image, &error)) << error;
  ASSERT_EQ(image.channels, 3);
  EXPECT_LT(image.pixels[0], 10);
  EXPECT_LT(image.pixels[1], 10);
  EXPECT_GT(image.pixels[2], 245);

  // PNG written as RGB by libpng itself.
  uint8_t rgb[2 * 1 * 3] = {255, 0, 0, 0, 0, 255};
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = 2;
  png.height = 1;
  png.format = PNG_FORMAT_RGB;
  const std::string path = tempPath("rgb.png");
  ASSERT_TRUE(png_image_write_to_file(&png, path.c_str(), 0, rgb, 0, nullptr));
  ASSERT_TRUE(readImage(path, &image, &error)) << error;
  ASSERT_EQ(image.channels, 3);
  const uint8_t expected[6] = {0, 0, 255, 255, 0, 0};
  EXPECT_EQ(0, std::memcmp(image.pixels.data(), expected, 6));
  std::remove(path.c_str());
}

TEST(ImageIo, WrittenImagesReadBack) {
  // Grey PNG losslessly (colour PNGs: see the --png frames of vornik-synth),
  // colour JPEG closely.
  Image grey(37, 23, 1), smooth(64, 48, 3);
  for (size_t i = 0; i < grey.pixels.size(); ++i)
    grey.pixels[i] = static_cast<uint8_t>((i * 37) ^ (i >> 5));
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      uint8_t* p = smooth.row(y) + 3 * x;
      p[0] = static_cast<uint8_t>(3 * x);
      p[1] = static_cast<uint8_t>(4 * y);
      p[2] = static_cast<uint8_t>(200 - 2 * x);
    }
  }
  const std::string png = tempPath("roundtrip.png"), jpg = tempPath("roundtrip.jpg");
  std::string error;
  Image back;
  ASSERT_TRUE(writeImage(png, grey, 90, &error)) << error;
  ASSERT_TRUE(readImage(png, &back, &error)) << error;
  EXPECT_EQ(back.width, 37);
  EXPECT_EQ(back.channels, 1);
  EXPECT_EQ(back.pixels, grey.pixels);
  ASSERT_TRUE(writeJpeg(jpg, smooth, 95, &error)) << error;
  ASSERT_TRUE(readImage(jpg, &back, &error)) << error;
  ASSERT_EQ(back.pixels.size(), smooth.pixels.size());
  double total = 0;
  for (size_t i = 0; i < back.pixels.size(); ++i)
    total += std::abs(back.pixels[i] - smooth.pixels[i]);
  EXPECT_LT(total / back.pixels.size(), 2.0);
  std::remove(png.c_str());
  std::remove(jpg.c_str());
  EXPECT_FALSE(writeJpeg(jpg, smooth, 0, &error));
  EXPECT_FALSE(writeJpeg(jpg, Image(), 90, &error));
}

TEST(ImageIo, BrokenStreamsFailWithAReason) {
  // Missing files and files that are no image at all: see the programs' tests.
  Image image;
  std::string error;
  const std::string path = tempPath("bad.jpg");
  const char garbage[] = "\xFF\xD8\xFF\xE0 this is not really a JPEG stream at all";
  std::ofstream(path, std::ios::binary).write(garbage, sizeof(garbage));
  EXPECT_FALSE(readImage(path, &image, &error));
  EXPECT_NE(error.find("bad.jpg"), std::string::npos);
  std::remove(path.c_str());
  const uint8_t brokenPng[] = "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0";
  EXPECT_FALSE(decodePng(brokenPng, sizeof(brokenPng), &image, &error));
  EXPECT_FALSE(decodeJpeg(nullptr, 0, &image, &error));
  EXPECT_FALSE(decodePng(nullptr, 0, &image, &error));
}

TEST(ImageIo, GreyConversionUsesTheLibraryWeights) {
  Image bgr(4, 1, 3);
  const uint8_t pixels[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  std::memcpy(bgr.pixels.data(), pixels, 12);
  const Image grey = toGray(bgr);
  ASSERT_EQ(grey.channels, 1);
  EXPECT_EQ(grey.pixels, (std::vector<uint8_t>{28, 149, 76, 255}));
  const Image back = toBgr(grey);
  EXPECT_EQ(back.pixels[3], 149);
  EXPECT_EQ(back.pixels[4], 149);
  EXPECT_EQ(back.pixels[5], 149);
}

}  // namespace
}  // namespace vornik
