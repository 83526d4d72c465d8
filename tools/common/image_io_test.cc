#include "common/image_io.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>

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

TEST(ImageIo, GreyPngReadsBackLosslessly) {
  // Colour PNG frames: see vornik-synth --png; colour JPEG frames: the play tests.
  Image grey(37, 23, 1), back;
  for (size_t i = 0; i < grey.pixels.size(); ++i)
    grey.pixels[i] = static_cast<uint8_t>((i * 37) ^ (i >> 5));
  const std::string png = tempPath("roundtrip.png");
  std::string error;
  ASSERT_TRUE(writeImage(png, grey, 90, &error)) << error;
  ASSERT_TRUE(readImage(png, &back, &error)) << error;
  EXPECT_EQ(std::make_tuple(back.width, back.channels, back.pixels),
            std::make_tuple(37, 1, grey.pixels));
  std::remove(png.c_str());
  EXPECT_FALSE(writeJpeg(tempPath("x.jpg"), grey, 0, &error));
  EXPECT_FALSE(writeJpeg(tempPath("x.jpg"), Image(), 90, &error));
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
  EXPECT_EQ(std::vector<uint8_t>(back.pixels.begin() + 3, back.pixels.begin() + 6),
            (std::vector<uint8_t>{149, 149, 149}));
}

}  // namespace
}  // namespace vornik
