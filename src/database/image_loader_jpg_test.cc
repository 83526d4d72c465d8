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
// stored RGB); no subsampling there, and quality 100 keeps constant 8x8 blocks exact.
std::vector<uint8_t> compress(const std::vector<uint8_t>& pixels, int width, int height,
                              int components, J_COLOR_SPACE space) {
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
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, space);
  jpeg_set_quality(&cinfo, 100, TRUE);
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
  int32_t width = 0;
  int32_t height = 0;
  int32_t grey = -1;
  std::unique_ptr<uint8_t[]> pixels;
  std::vector<int32_t> size() const { return {width, height, grey}; }
};

Decoded decode(const std::vector<uint8_t>& bytes) {
  Decoded d;
  uint8_t* pixels = nullptr;
  d.ok =
      ImageLoaderJPG::decodeMemory(bytes.data(), bytes.size(), d.width, d.height, d.grey, pixels);
  d.pixels.reset(pixels);
  return d;
}

Decoded loadFile(const std::string& path) {
  Decoded d;
  uint8_t* pixels = nullptr;
  d.ok = ImageLoaderJPG().load(path, d.width, d.height, d.grey, pixels);
  d.pixels.reset(pixels);
  return d;
}

TEST(ImageLoaderJPG, CanLoadComparesTheExtensionExactly) {
  const ImageLoaderJPG loader;
  for (const char* path : {"a/b/photo.jpg", "photo.jpeg", "jpg"}) EXPECT_TRUE(loader.canLoad(path));
  for (const char* path : {"photo.JPG", "photo.jpg.zip", "photo.png", "jpeg.d/photo"}) {
    EXPECT_FALSE(loader.canLoad(path)) << path;
  }
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
    std::vector<int32_t> size;
    size_t sampleAt;  // byte offset of a second pixel
    std::vector<uint8_t> first;
    std::vector<uint8_t> sample;
  } cases[] = {
      {compress(std::vector<uint8_t>(6, 77), 3, 2, 1, JCS_GRAYSCALE), {3, 2, 1}, 5, {77}, {77}},
      {compress(red, 8, 8, 3, JCS_RGB), {8, 8, 0}, 3 * 63, {0, 0, 255}, {0, 0, 255}},
      {compress(cmyk, 16, 8, 4, JCS_CMYK), {16, 8, 0}, 3 * 8, {50, 100, 200}, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sampleAt);
    Decoded d = decode(c.jpeg);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.size(), c.size);
    const uint8_t* p = d.pixels.get();
    EXPECT_EQ(std::vector<uint8_t>(p, p + c.first.size()), c.first);
    EXPECT_EQ(std::vector<uint8_t>(p + c.sampleAt, p + c.sampleAt + c.sample.size()), c.sample);
  }
}

TEST(ImageLoaderJPG, RealPhotoMatchesLibjpegItsFirstHalfDecodesAndNonJpegFailsSilently) {
  std::vector<uint8_t> jpeg = testutil::readBytes(kPhoto);
  ASSERT_FALSE(jpeg.empty());
  int width = 0;
  int height = 0;
  const std::vector<uint8_t> expected = referenceDecode(jpeg, width, height);
  Decoded whole = loadFile(kPhoto);
  ASSERT_TRUE(whole.ok);
  EXPECT_EQ(whole.size(), std::vector<int32_t>({width, height, 0}));
  EXPECT_EQ(std::memcmp(whole.pixels.get(), expected.data(), expected.size()), 0);

  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  Decoded cut = decode({jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2)});
  jpeg[0] = 0x00;  // no start-of-image marker
  for (const std::vector<uint8_t>& bytes : std::vector<std::vector<uint8_t>>{
           {},
           {'h', 'e', 'l', 'l', 'o'},
           {0xFF, 0xD8, 0xFF, 0xD9},
           jpeg,
           // A lossless frame header, which the decoder does not support.
           {0xFF, 0xD8, 0xFF, 0xC3, 0x00, 0x0B, 8, 0, 8, 0, 8, 1, 1, 0x11, 0}}) {
    EXPECT_FALSE(decode(bytes).ok) << bytes.size();
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(cut.ok);
  EXPECT_EQ(cut.size(), whole.size());
  // The first rows lie well inside the data that is still there.
  EXPECT_EQ(std::memcmp(cut.pixels.get(), expected.data(), static_cast<size_t>(width) * 3 * 16), 0);
}

// A 16 x 16 grey baseline JPEG whose frame header claims `width` x `height`.
std::vector<uint8_t> jpegClaiming(uint16_t width, uint16_t height) {
  std::vector<uint8_t> grey(16 * 16, 90);
  std::vector<uint8_t> jpeg;
  EXPECT_TRUE(encodeJpeg(grey.data(), 16, 16, 1, 90, jpeg));
  for (size_t i = 0; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // then length, precision, height, width
      const uint8_t claimed[4] = {static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                                  static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width)};
      std::memcpy(&jpeg[i + 5], claimed, 4);
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
  // Some hosts (Wine, seen once) refuse to grow a file this far; the
  // other cases still run there.
  std::error_code grown;
  std::filesystem::resize_file(dir + "/long.jpg", ImageLoaderJPG::kMaxInputBytes + 1, grown);
  struct Case {
    std::string path;
    std::vector<std::string> log;  // a refusal logs one line, a missing file none
  };
  std::vector<Case> cases = {
      {dir + "/small.jpg", {}},
      {dir + "/missing.jpg", {}},
      {dir, {dir + " is not a regular file\n"}},
      {dir + "/huge.jpg", {"JPEG image of 60000 x 60000 pixels is too large to decode\n"}},
      {dir + "/tall.jpg", {"JPEG image of 16384 x 8193 pixels is too large to decode\n"}},
  };
  if (!grown) {
    cases.push_back({dir + "/long.jpg", {dir + "/long.jpg is larger than 67108864 bytes\n"}});
  } else {
    std::printf("the file over 64 MiB was not made here (%s): that case is left out\n",
                grown.message().c_str());
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    LogCapture log;
    Decoded d = loadFile(c.path);
    const bool ok = c.path == dir + "/small.jpg";
    EXPECT_EQ(d.ok, ok);
    EXPECT_EQ(d.pixels != nullptr, ok);
    EXPECT_EQ(log.snapshot(), c.log);
    EXPECT_EQ(d.size(), ok ? std::vector<int32_t>({16, 16, 1}) : std::vector<int32_t>({0, 0, -1}));
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
  const std::string dir = testutil::freshTestDir();
  testutil::writeBytes(dir + "/group.bin", file);

  std::FILE* f = std::fopen((dir + "/group.bin").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  Decoded region;
  for (uint32_t count : {static_cast<uint32_t>(jpeg.size()), 0xFFFFFFF0u}) {
    std::fseek(f, 4, SEEK_SET);
    uint8_t* pixels = nullptr;
    region.ok =
        ImageLoaderJPG::decodeRegion(f, count, region.width, region.height, region.grey, pixels);
    region.pixels.reset(pixels);
    // A count beyond the end reads what is there and decodes it.
    EXPECT_TRUE(region.ok) << count;
    if (count == jpeg.size()) {
      EXPECT_EQ(std::ftell(f), static_cast<long>(4 + jpeg.size()));
      EXPECT_EQ(std::fgetc(f), 0xFF);  // still open, just after the region
    }
  }
  std::fclose(f);
  EXPECT_EQ(region.size(), std::vector<int32_t>({40, 30, 1}));
  EXPECT_EQ(std::memcmp(decode(jpeg).pixels.get(), region.pixels.get(), 40 * 30), 0);
  // A directory opens, but holds no bytes to read.
  f = std::fopen(dir.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  uint8_t* pixels = nullptr;
  EXPECT_FALSE(ImageLoaderJPG::decodeRegion(f, 0xFFFFFFF0u, region.width, region.height,
                                            region.grey, pixels));
  std::fclose(f);
}

TEST(ImageLoaderJPG, RowsOf65536BytesOrMoreAreRejected) {
  LogCapture log;
  std::vector<uint8_t> bgr(static_cast<size_t>(21846) * 3 * 8, 128);
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(encodeJpeg(bgr.data(), 21845, 8, 3, 50, jpeg));
  EXPECT_EQ(decode(jpeg).size(), std::vector<int32_t>({21845, 8, 0}));
  ASSERT_TRUE(encodeJpeg(bgr.data(), 21846, 8, 3, 50, jpeg));
  EXPECT_FALSE(decode(jpeg).ok);
  std::vector<uint8_t> cmyk(static_cast<size_t>(16384) * 4 * 8, 255);
  EXPECT_TRUE(decode(compress(cmyk, 16383, 8, 4, JCS_CMYK)).ok);
  EXPECT_FALSE(decode(compress(cmyk, 16384, 8, 4, JCS_CMYK)).ok);
  EXPECT_EQ(log.snapshot().size(), 2u);
}

TEST(JpegWriter, RoundTripKeepsChannelOrderRefusesBadArgumentsAndGrowsItsBuffer) {
  // Blue left half, red right half, in B, G, R order.
  std::vector<uint8_t> bgr;
  for (int i = 0; i < 32 * 16; ++i) {
    const uint8_t blue = i % 32 < 16 ? 255 : 0;
    bgr.insert(bgr.end(), {blue, 0, static_cast<uint8_t>(255 - blue)});
  }
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(encodeJpeg(bgr.data(), 32, 16, 3, 95, jpeg));
  Decoded d = decode(jpeg);
  ASSERT_EQ(d.size(), std::vector<int32_t>({32, 16, 0}));
  for (int i : {0, 3 * 8, 3 * (32 * 15 + 20)}) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(d.pixels[i + c], bgr[i + c], 6) << i << " " << c;
  }
  EXPECT_FALSE(encodeJpeg(nullptr, 4, 4, 1, 90, jpeg));
  EXPECT_FALSE(encodeJpeg(bgr.data(), 4, 4, 2, 90, jpeg));
  EXPECT_FALSE(encodeJpeg(bgr.data(), 0, 4, 1, 90, jpeg));
  EXPECT_FALSE(encodeJpeg(bgr.data(), 4, 4, 1, 0, jpeg));
  EXPECT_TRUE(jpeg.empty());

  // Noise at full quality outgrows the encoder's first output buffer.
  std::vector<uint8_t> noise(512 * 512);
  uint32_t state = 1;
  for (uint8_t& b : noise) b = static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
  ASSERT_TRUE(encodeJpeg(noise.data(), 512, 512, 1, 100, jpeg));
  EXPECT_GT(jpeg.size(), size_t{1} << 17);
  d = decode(jpeg);
  ASSERT_TRUE(d.ok);
  int maxError = 0;
  for (size_t i = 0; i < noise.size(); ++i) {
    maxError = std::max(maxError, std::abs(d.pixels[i] - noise[i]));
  }
  EXPECT_LE(maxError, 4);
}

}  // namespace
}  // namespace vornik
