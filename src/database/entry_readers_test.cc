#include "database/entry_readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "database/group_file_writer.h"
#include "features/descriptor_key.h"

namespace vornik {
namespace {

std::vector<uint8_t> descriptorHeader(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
          static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
}

std::vector<uint8_t> descriptorBytes(uint8_t seed) {
  std::vector<uint8_t> d(64);
  for (int i = 0; i < 64; ++i) d[i] = static_cast<uint8_t>(seed * 37 + i * 11);
  return d;
}

void appendRecord(std::vector<uint8_t>& entry, uint8_t flag, uint8_t p0, uint8_t p1, uint8_t p2,
                  const std::vector<uint8_t>& descriptor) {
  entry.insert(entry.end(), {flag, p0, p1, p2});
  entry.insert(entry.end(), descriptor.begin(), descriptor.end());
}

// Level (or layer), polarity, scale, x, y.
using Fields = std::tuple<int32_t, int32_t, float, int32_t, int32_t>;
Fields fields(const HessianGradientFeature& f) { return {f.level, f.polarity, f.scale, f.x, f.y}; }
Fields fields(const Feature& f) { return {f.layer, f.polarity, f.scale, f.x, f.y}; }

TEST(DescriptorEntry, DecodesFlagPositionScaleAndKey) {
  std::vector<uint8_t> entry = descriptorHeader(2.5f);
  appendRecord(entry, 0x27, 0x12, 0x34, 0x56, descriptorBytes(1));
  appendRecord(entry, 0x00, 0xFF, 0xFF, 0xFF, descriptorBytes(2));
  std::vector<HessianGradientFeaturePtr> out;
  float header = 0.0f;
  ASSERT_EQ(parseDescriptorEntry(entry.data(), entry.size(), "poster", out, header), 0);
  EXPECT_EQ(header, 2.5f);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(fields(*out[0]), Fields(19, 1, 0x1.bdb8cep+3f, 291, 1110));
  EXPECT_EQ(fields(*out[1]), Fields(0, 0, 1.0f, 4095, 4095));
  EXPECT_EQ(out[0]->name, "poster");
  const std::vector<uint8_t> d1 = descriptorBytes(1);
  EXPECT_EQ(std::memcmp(out[0]->descriptor.data(), d1.data(), 64), 0);
  EXPECT_EQ(out[0]->descriptorKey, descriptorKey(d1.data()));
  // The writer gives back the hand-built bytes.
  std::vector<uint8_t> again;
  ASSERT_TRUE(encodeDescriptorEntry(header, out, again));
  EXPECT_EQ(again, entry);
}

TEST(DescriptorEntry, LevelScalesArePinned) {
  // 2^(i/5) rounded to single precision; each octave doubles exactly.
  const float factor[5] = {0x1p+0f, 0x1.261118p+0f, 0x1.51cb46p+0f, 0x1.8406p+0f, 0x1.bdb8cep+0f};
  for (int level = 0; level < 20; ++level) {
    EXPECT_EQ(descriptorLevelScale(level), std::ldexp(factor[level % 5], level / 5)) << level;
  }
  EXPECT_EQ(descriptorLevelScale(20), 0.0f);
  EXPECT_EQ(descriptorLevelScale(-1), 0.0f);
}

TEST(DescriptorEntry, FaultsKeepTheRecordsBeforeThem) {
  std::vector<uint8_t> entry = descriptorHeader(1.0f);
  appendRecord(entry, 0x26, 0, 0, 1, descriptorBytes(3));  // level 19
  appendRecord(entry, 0x03, 0, 0, 2, descriptorBytes(4));
  std::vector<uint8_t> levelTwenty = descriptorHeader(1.0f);
  appendRecord(levelTwenty, 0x26, 0, 0, 1, descriptorBytes(5));
  appendRecord(levelTwenty, 0x28, 0, 0, 2, descriptorBytes(6));
  const struct {
    const std::vector<uint8_t>& bytes;
    size_t size;
    int32_t code;
    size_t kept;
  } cases[] = {
      {entry, 4, 0, 0},                 // header only
      {entry, 3, 7, 0},                 // header cut short
      {entry, entry.size() - 1, 7, 1},  // second record crosses the end
      {entry, entry.size(), 0, 2},
      {levelTwenty, levelTwenty.size(), 7, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    std::vector<HessianGradientFeaturePtr> out;
    float header = 0.0f;
    EXPECT_EQ(parseDescriptorEntry(c.bytes.data(), c.size, "t", out, header), c.code);
    ASSERT_EQ(out.size(), c.kept);
    for (size_t i = 0; i < c.kept; ++i) EXPECT_EQ(out[i]->y, static_cast<int32_t>(i + 1));
  }
}

TEST(TrackingEntry, DecodesSizeSignedPositionsAndDescriptor) {
  std::vector<uint8_t> entry = {0x28, 0x01, 0xE0};  // 640 x 480
  std::vector<uint8_t> d = descriptorBytes(7);
  entry.insert(entry.end(), {0x05, 0xFF, 0xFE, 0x01, 0x2C});
  entry.insert(entry.end(), d.begin(), d.end());
  entry.insert(entry.end(), {0x00, 0x80, 0x00, 0x7F, 0xFF});
  entry.insert(entry.end(), d.begin(), d.end());
  std::vector<FeaturePtr> out;
  int32_t width = 0;
  int32_t height = 0;
  ASSERT_EQ(parseTrackingEntry(entry.data(), entry.size(), out, width, height), 0);
  EXPECT_EQ(std::vector<int32_t>({width, height}), std::vector<int32_t>({640, 480}));
  ASSERT_EQ(out.size(), 2u);
  // Layer and polarity; the tracking entry stores no scale or orientation.
  EXPECT_EQ(fields(*out[0]), Fields(2, 1, 0.0f, -2, 300));
  EXPECT_EQ(fields(*out[1]), Fields(0, 0, 0.0f, -32768, 32767));
  EXPECT_EQ(out[1]->orientation, 0.0f);
  ASSERT_NE(out[0]->descriptor, nullptr);
  EXPECT_EQ(std::memcmp(out[0]->descriptor.get(), d.data(), 64), 0);
  std::vector<uint8_t> again;
  ASSERT_TRUE(encodeTrackingEntry(width, height, out, again));
  EXPECT_EQ(again, entry);
}

TEST(EntryWriter, RefusesFieldsThatDoNotFit) {
  auto descriptorWith = [](int32_t level, int32_t x) {
    auto f = std::make_shared<HessianGradientFeature>();
    f->level = level;
    f->x = x;
    return f;
  };
  std::vector<uint8_t> entry;
  ASSERT_TRUE(encodeDescriptorEntry(1.0f, {descriptorWith(19, 4095)}, entry));
  for (const HessianGradientFeaturePtr& f : {descriptorWith(20, 0), descriptorWith(0, 4096),
                                             descriptorWith(0, -1), HessianGradientFeaturePtr()}) {
    EXPECT_FALSE(encodeDescriptorEntry(1.0f, {f}, entry));
    EXPECT_TRUE(entry.empty());
  }
  auto trackingWith = [](int32_t x, bool withDescriptor) {
    auto f = std::make_shared<Feature>();
    f->x = x;
    if (withDescriptor) f->descriptor.reset(new uint8_t[64]());
    return f;
  };
  ASSERT_TRUE(encodeTrackingEntry(4095, 4095, {trackingWith(-32768, true)}, entry));
  EXPECT_FALSE(encodeTrackingEntry(4096, 480, {trackingWith(0, true)}, entry));
  for (const FeaturePtr& f : {trackingWith(32768, true), trackingWith(-32769, true),
                              trackingWith(0, false), FeaturePtr()}) {
    EXPECT_FALSE(encodeTrackingEntry(640, 480, {f}, entry));
    EXPECT_TRUE(entry.empty());
  }
}

TEST(GroupFileWriterTest, WritesOneRecordPerEntry) {
  GroupFileWriter writer;
  ASSERT_TRUE(writer.addEntry("ab.json", std::string("{}")));
  ASSERT_TRUE(writer.addEntry("ab.dat", std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(writer.addEntry(std::string(256, 'n'), std::string("x")));
  EXPECT_EQ(writer.entryCount(), 2u);
  std::vector<uint8_t> expected = {
      0x80, 0x01, 7, 'a', 'b', '.', 'j', 's', 'o', 'n',  0x02, 0, 0, 0, 2, '{', '}', 0xC0,  //
      0x80, 0x01, 6, 'a', 'b', '.', 'd', 'a', 't', 0x02, 0,    0, 0, 3, 1, 2,   3,   0xC0};
  EXPECT_EQ(writer.bytes(), expected);
}

}  // namespace
}  // namespace vornik
