#include "database/image_loader_jpg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include <jpeglib.h>

#include "database/database_test_util.h"
#include "database/jpeg_writer.h"

namespace vornik {
namespace {

const std::string kPhoto = std::string(VORNIK_DATA_DIR) + "/photos/chelsea.jpg";

// libjpeg's own compressor, for inputs our encoder does not make (CMYK,
// stored RGB). Quality 100 keeps constant 8x8 blocks exact.
std::vector<uint8_t> compress(const std::vector<uint8_t>& pixels, int width, int height,
                              int components, J_COLOR_SPACE in, J_COLOR_SPACE stored) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = in;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, stored);
  jpeg_set_quality(&cinfo, 100, TRUE);
  for (int c = 0; c < cinfo.num_components; ++c) {
    cinfo.comp_info[c].h_samp_factor = 1;
    cinfo.comp_info[c].v_samp_factor = 1;
  }
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + static_cast<size_t>(cinfo.next_scanline) *
                                                            width * components);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// Slow reference: libjpeg with its own memory source, RGB output swapped by hand.
std::vector<uint8_t> referenceDecode(const std::vector<uint8_t>& jpeg, int& width, int& height) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&cinfo);
  width = static_cast<int>(cinfo.output_width);
  height = static_cast<int>(cinfo.output_height);
  std::vector<uint8_t> out(static_cast<size_t>(width) * height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.data() + static_cast<size_t>(cinfo.output_scanline) * width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  for (size_t i = 0; i < out.size(); i += 3) std::swap(out[i], out[i + 2]);
  return out;
}

struct Decoded {
  bool ok = false;
  int32_t width = -1;
  int32_t height = -1;
  int32_t grey = -1;
  std::unique_ptr<uint8_t[]> pixels;
};

Decoded decode(const std::vector<uint8_t>& bytes) {
  Decoded d;
  uint8_t* pixels = nullptr;
  d.ok =
      ImageLoaderJPG::decodeMemory(bytes.data(), bytes.size(), d.width, d.height, d.grey, pixels);
  d.pixels.reset(pixels);
  return d;
}

TEST(ImageLoaderJPG, CanLoadComparesTheExtensionExactly) {
  ImageLoaderJPG loader;
  const IImageLoader& base = loader;
  EXPECT_TRUE(base.canLoad("a/b/photo.jpg"));
  EXPECT_TRUE(base.canLoad("photo.jpeg"));
  EXPECT_TRUE(base.canLoad("jpg"));
  EXPECT_FALSE(base.canLoad("photo.JPG"));
  EXPECT_FALSE(base.canLoad("photo.jpg.zip"));
  EXPECT_FALSE(base.canLoad("photo.png"));
  EXPECT_FALSE(base.canLoad("jpeg.d/photo"));
}

TEST(ImageLoaderJPG, EachColourSpaceGivesItsByteLayout) {
  std::vector<uint8_t> red;
  for (int i = 0; i < 64; ++i) red.insert(red.end(), {255, 0, 0});
  // Left 8x8 block (200,100,50,255), right block (200,100,50,0).
  std::vector<uint8_t> cmyk;
  for (int i = 0; i < 16 * 8; ++i) {
    cmyk.insert(cmyk.end(), {200, 100, 50, static_cast<uint8_t>(i % 16 < 8 ? 255 : 0)});
  }
  const struct {
    std::vector<uint8_t> jpeg;
    std::vector<int32_t> widthHeightGrey;
    size_t sampleAt;  // byte offset of a second pixel
    std::vector<uint8_t> first;
    std::vector<uint8_t> sample;
  } cases[] = {
      {compress(std::vector<uint8_t>(6, 77), 3, 2, 1, JCS_GRAYSCALE, JCS_GRAYSCALE),
       {3, 2, 1},
       5,
       {77},
       {77}},
      {compress(red, 8, 8, 3, JCS_RGB, JCS_RGB), {8, 8, 0}, 3 * 63, {0, 0, 255}, {0, 0, 255}},
      {compress(cmyk, 16, 8, 4, JCS_CMYK, JCS_CMYK), {16, 8, 0}, 3 * 8, {50, 100, 200}, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sampleAt);
    Decoded d = decode(c.jpeg);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(std::vector<int32_t>({d.width, d.height, d.grey}), c.widthHeightGrey);
    const uint8_t* p = d.pixels.get();
    EXPECT_EQ(std::vector<uint8_t>(p, p + c.first.size()), c.first);
    EXPECT_EQ(std::vector<uint8_t>(p + c.sampleAt, p + c.sampleAt + c.sample.size()), c.sample);
  }
}

TEST(ImageLoaderJPG, RealPhotoMatchesLibjpegDecode) {
  std::vector<uint8_t> jpeg = testutil::readBytes(kPhoto);
  ASSERT_FALSE(jpeg.empty());
  int width = 0;
  int height = 0;
  std::vector<uint8_t> expected = referenceDecode(jpeg, width, height);
  ImageLoaderJPG loader;
  int32_t w = 0;
  int32_t h = 0;
  int32_t grey = -1;
  uint8_t* pixels = nullptr;
  ASSERT_TRUE(loader.load(kPhoto, w, h, grey, pixels));
  std::unique_ptr<uint8_t[]> owned(pixels);
  EXPECT_EQ(w, width);
  EXPECT_EQ(h, height);
  EXPECT_EQ(grey, 0);
  EXPECT_EQ(std::memcmp(pixels, expected.data(), expected.size()), 0);
}

TEST(ImageLoaderJPG, TruncatedFileStillDecodesItsBeginning) {
  std::vector<uint8_t> jpeg = testutil::readBytes(kPhoto);
  int width = 0;
  int height = 0;
  std::vector<uint8_t> full = referenceDecode(jpeg, width, height);
  std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  Decoded d = decode(cut);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.width, width);
  EXPECT_EQ(d.height, height);
  // The first rows lie well inside the data that is still there.
  size_t firstRows = static_cast<size_t>(width) * 3 * 16;
  EXPECT_EQ(std::memcmp(d.pixels.get(), full.data(), firstRows), 0);
}

TEST(ImageLoaderJPG, NonJpegBytesFailSilently) {
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(decode({}).ok);
  EXPECT_FALSE(decode({'h', 'e', 'l', 'l', 'o'}).ok);
  EXPECT_FALSE(decode({0xFF, 0xD8, 0xFF, 0xD9}).ok);
  std::vector<uint8_t> jpeg = testutil::readBytes(kPhoto);
  jpeg[0] = 0x00;  // no start-of-image marker
  EXPECT_FALSE(decode(jpeg).ok);
  // A lossless frame header, which the decoder does not support.
  EXPECT_FALSE(decode({0xFF, 0xD8, 0xFF, 0xC3, 0x00, 0x0B, 8, 0, 8, 0, 8, 1, 1, 0x11, 0}).ok);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// A 16 x 16 grey baseline JPEG whose frame header claims `width` x `height`.
std::vector<uint8_t> jpegClaiming(uint16_t width, uint16_t height) {
  std::vector<uint8_t> grey(16 * 16, 90);
  std::vector<uint8_t> jpeg;
  EXPECT_TRUE(encodeJpeg(grey.data(), 16, 16, 1, 90, jpeg));
  for (size_t i = 0; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // then length, precision, height, width
      jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<uint8_t>(height);
      jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<uint8_t>(width);
      return jpeg;
    }
  }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

TEST(ImageLoaderJPG, LoadRefusesWhatNoImageOfAffordableSizeCanBe) {
  const std::string dir = testutil::freshTestDir();
  testutil::writeBytes(dir + "/small.jpg", jpegClaiming(16, 16));
  testutil::writeBytes(dir + "/huge.jpg", jpegClaiming(60000, 60000));
  testutil::writeBytes(dir + "/tall.jpg", jpegClaiming(16384, 8193));
  testutil::writeBytes(dir + "/long.jpg", {});
  std::filesystem::resize_file(dir + "/long.jpg", ImageLoaderJPG::kMaxInputBytes + 1);
  const struct {
    std::string path;
    bool ok;
    std::string log;  // the one line logged, if any
  } cases[] = {
      {dir + "/small.jpg", true, ""},
      {dir + "/missing.jpg", false, ""},
      {dir, false, dir + " is not a regular file\n"},
      {dir + "/long.jpg", false, dir + "/long.jpg is larger than 67108864 bytes\n"},
      {dir + "/huge.jpg", false, "JPEG image of 60000 x 60000 pixels is too large to decode\n"},
      {dir + "/tall.jpg", false, "JPEG image of 16384 x 8193 pixels is too large to decode\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    testutil::LogCapture log;
    int32_t w = 0;
    int32_t h = 0;
    int32_t g = -1;
    uint8_t* pixels = nullptr;
    EXPECT_EQ(ImageLoaderJPG().load(c.path, w, h, g, pixels), c.ok);
    std::unique_ptr<uint8_t[]> owned(pixels);
    EXPECT_EQ(pixels != nullptr, c.ok);
    EXPECT_EQ(log.captured(),
              c.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.log});
    EXPECT_EQ(std::vector<int32_t>({w, h, g}),
              c.ok ? std::vector<int32_t>({16, 16, 1}) : std::vector<int32_t>({0, 0, -1}));
  }
}

TEST(ImageLoaderJPG, RegionDecodeReadsExactlyTheGivenBytes) {
  std::vector<uint8_t> grey(40 * 30);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(encodeJpeg(grey.data(), 40, 30, 1, 90, jpeg));
  std::vector<uint8_t> file = {'j', 'u', 'n', 'k'};
  file.insert(file.end(), jpeg.begin(), jpeg.end());
  file.insert(file.end(), {0xFF, 0xD8, 'm', 'o', 'r', 'e'});
  std::string path = testutil::freshTestDir() + "/group.bin";
  testutil::writeBytes(path, file);

  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 4, SEEK_SET);
  int32_t w = 0;
  int32_t h = 0;
  int32_t g = 0;
  uint8_t* pixels = nullptr;
  ASSERT_TRUE(ImageLoaderJPG::decodeRegion(f, static_cast<uint32_t>(jpeg.size()), w, h, g, pixels));
  std::unique_ptr<uint8_t[]> owned(pixels);
  EXPECT_EQ(std::ftell(f), static_cast<long>(4 + jpeg.size()));
  EXPECT_EQ(std::fgetc(f), 0xFF);  // still open, just after the region
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 30);
  EXPECT_EQ(g, 1);
  Decoded direct = decode(jpeg);
  EXPECT_EQ(std::memcmp(direct.pixels.get(), pixels, 40 * 30), 0);

  // A count beyond the end reads what is there and decodes it.
  std::fseek(f, 4, SEEK_SET);
  pixels = nullptr;
  EXPECT_TRUE(ImageLoaderJPG::decodeRegion(f, 0xFFFFFFF0u, w, h, g, pixels));
  delete[] pixels;
  std::fclose(f);
  // A directory opens, but holds no bytes to read.
  f = std::fopen(testutil::freshTestDir().c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(ImageLoaderJPG::decodeRegion(f, 0xFFFFFFF0u, w, h, g, pixels));
  std::fclose(f);
}

TEST(ImageLoaderJPG, RowsOf65536BytesOrMoreAreRejected) {
  testutil::LogCapture log;
  std::vector<uint8_t> bgr(static_cast<size_t>(21846) * 3 * 8, 128);
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(encodeJpeg(bgr.data(), 21845, 8, 3, 50, jpeg));
  Decoded fits = decode(jpeg);
  EXPECT_TRUE(fits.ok);
  EXPECT_EQ(fits.width, 21845);
  ASSERT_TRUE(encodeJpeg(bgr.data(), 21846, 8, 3, 50, jpeg));
  EXPECT_FALSE(decode(jpeg).ok);

  std::vector<uint8_t> cmyk(static_cast<size_t>(16384) * 4 * 8, 255);
  EXPECT_TRUE(decode(compress({cmyk.begin(), cmyk.begin() + 16383 * 4 * 8}, 16383, 8, 4, JCS_CMYK,
                              JCS_CMYK))
                  .ok);
  EXPECT_FALSE(decode(compress(cmyk, 16384, 8, 4, JCS_CMYK, JCS_CMYK)).ok);
  EXPECT_EQ(log.captured().size(), 2u);
}

TEST(JpegWriter, RoundTripKeepsChannelOrderAndRefusesBadArguments) {
  // Blue left half, red right half, in B, G, R order.
  std::vector<uint8_t> bgr;
  for (int i = 0; i < 32 * 16; ++i) {
    const uint8_t blue = i % 32 < 16 ? 255 : 0;
    bgr.insert(bgr.end(), {blue, 0, static_cast<uint8_t>(255 - blue)});
  }
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(encodeJpeg(bgr.data(), 32, 16, 3, 95, jpeg));
  Decoded d = decode(jpeg);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.grey, 0);
  for (int i : {0, 3 * 8, 3 * (32 * 15 + 20)}) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(d.pixels[i + c], bgr[i + c], 6) << i << " " << c;
    }
  }
  EXPECT_FALSE(encodeJpeg(nullptr, 4, 4, 1, 90, jpeg));
  EXPECT_FALSE(encodeJpeg(bgr.data(), 4, 4, 2, 90, jpeg));
  EXPECT_FALSE(encodeJpeg(bgr.data(), 0, 4, 1, 90, jpeg));
  EXPECT_FALSE(encodeJpeg(bgr.data(), 4, 4, 1, 0, jpeg));
  EXPECT_TRUE(jpeg.empty());
}

TEST(JpegWriter, LargeImageGrowsTheOutputBuffer) {
  std::vector<uint8_t> noise(512 * 512);
  uint32_t state = 1;
  for (uint8_t& b : noise) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(encodeJpeg(noise.data(), 512, 512, 1, 100, jpeg));
  EXPECT_GT(jpeg.size(), size_t{1} << 17);
  Decoded d = decode(jpeg);
  ASSERT_TRUE(d.ok);
  int maxError = 0;
  for (size_t i = 0; i < noise.size(); ++i) {
    maxError = std::max(maxError, std::abs(d.pixels[i] - noise[i]));
  }
  EXPECT_LE(maxError, 4);
}

}  // namespace
}  // namespace vornik
