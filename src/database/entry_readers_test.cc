#include "database/entry_readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

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

TEST(DescriptorEntry, DecodesFlagPositionScaleAndKey) {
  std::vector<uint8_t> entry = descriptorHeader(2.5f);
  appendRecord(entry, 0x27, 0x12, 0x34, 0x56, descriptorBytes(1));
  appendRecord(entry, 0x00, 0xFF, 0xFF, 0xFF, descriptorBytes(2));
  std::vector<HessianGradientFeaturePtr> out;
  float header = 0.0f;
  ASSERT_EQ(parseDescriptorEntry(entry.data(), entry.size(), "poster", out, header), 0);
  EXPECT_EQ(header, 2.5f);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0]->level, 19);
  EXPECT_EQ(out[0]->polarity, 1);
  EXPECT_NEAR(out[0]->scale, 13.9288f, 1e-3f);
  EXPECT_EQ(out[0]->x, 291);
  EXPECT_EQ(out[0]->y, 1110);
  EXPECT_EQ(out[0]->name, "poster");
  std::vector<uint8_t> d1 = descriptorBytes(1);
  EXPECT_EQ(std::memcmp(out[0]->descriptor.data(), d1.data(), 64), 0);
  EXPECT_EQ(out[0]->descriptorKey, descriptorKey(d1.data()));
  EXPECT_EQ(out[1]->level, 0);
  EXPECT_EQ(out[1]->polarity, 0);
  EXPECT_EQ(out[1]->scale, 1.0f);
  EXPECT_EQ(out[1]->x, 4095);
  EXPECT_EQ(out[1]->y, 4095);
}

TEST(DescriptorEntry, LevelScalesFollowTheSinglePrecisionRecipe) {
  for (int level = 0; level < 20; ++level) {
    float factor = static_cast<float>(std::pow(2.0, static_cast<double>((level % 5) / 5.0f)));
    float expected = factor * static_cast<float>(1 << (level / 5));
    EXPECT_EQ(descriptorLevelScale(level), expected) << level;
    EXPECT_NEAR(descriptorLevelScale(level), std::pow(2.0, level / 5.0), 1e-5 * (1 << level / 5));
  }
}

TEST(DescriptorEntry, HeaderOnlyEntryHasNoFeatures) {
  std::vector<uint8_t> entry = descriptorHeader(1.0f);
  std::vector<HessianGradientFeaturePtr> out;
  float header = 0.0f;
  EXPECT_EQ(parseDescriptorEntry(entry.data(), entry.size(), "t", out, header), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(parseDescriptorEntry(entry.data(), 3, "t", out, header), 7);
}

TEST(DescriptorEntry, RecordCrossingTheEndIsMalformedAndEarlierRecordsStay) {
  std::vector<uint8_t> entry = descriptorHeader(1.0f);
  appendRecord(entry, 0x02, 0, 0, 1, descriptorBytes(3));
  appendRecord(entry, 0x03, 0, 0, 2, descriptorBytes(4));
  std::vector<HessianGradientFeaturePtr> out;
  float header = 0.0f;
  EXPECT_EQ(parseDescriptorEntry(entry.data(), entry.size() - 1, "t", out, header), 7);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]->y, 1);
}

TEST(DescriptorEntry, LevelTwentyOrMoreIsRejected) {
  std::vector<uint8_t> entry = descriptorHeader(1.0f);
  appendRecord(entry, 0x26, 0, 0, 0, descriptorBytes(5));  // level 19
  appendRecord(entry, 0x28, 0, 0, 0, descriptorBytes(6));  // level 20
  std::vector<HessianGradientFeaturePtr> out;
  float header = 0.0f;
  EXPECT_EQ(parseDescriptorEntry(entry.data(), entry.size(), "t", out, header), 7);
  EXPECT_EQ(out.size(), 1u);
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
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0]->x, -2);
  EXPECT_EQ(out[0]->y, 300);
  EXPECT_EQ(out[0]->layer, 2);
  EXPECT_EQ(out[0]->polarity, 1);
  ASSERT_NE(out[0]->descriptor, nullptr);
  EXPECT_EQ(std::memcmp(out[0]->descriptor.get(), d.data(), 64), 0);
  EXPECT_NE(out[0]->descriptor.get(), out[1]->descriptor.get());
  EXPECT_EQ(out[1]->x, -32768);
  EXPECT_EQ(out[1]->y, 32767);
  EXPECT_EQ(out[1]->scale, 0.0f);
  EXPECT_EQ(out[1]->orientation, 0.0f);

  out.clear();
  EXPECT_EQ(parseTrackingEntry(entry.data(), entry.size() - 10, out, width, height), 7);
  EXPECT_EQ(out.size(), 1u);
  EXPECT_EQ(parseTrackingEntry(entry.data(), 2, out, width, height), 7);
}

TEST(EntryWriter, DescriptorEntryRoundTripsAndRefusesUnfitFields) {
  std::vector<HessianGradientFeaturePtr> features;
  for (int i = 0; i < 3; ++i) {
    auto f = std::make_shared<HessianGradientFeature>();
    f->level = i * 9;
    f->polarity = static_cast<uint8_t>(i & 1);
    f->x = 4095 - i * 1000;
    f->y = i * 1234;
    std::vector<uint8_t> d = descriptorBytes(static_cast<uint8_t>(i + 10));
    std::memcpy(f->descriptor.data(), d.data(), 64);
    features.push_back(f);
  }
  std::vector<uint8_t> entry;
  ASSERT_TRUE(encodeDescriptorEntry(-0.75f, features, entry));
  ASSERT_EQ(entry.size(), 4u + 3u * 68u);
  EXPECT_EQ(std::vector<uint8_t>(entry.begin(), entry.begin() + 4), descriptorHeader(-0.75f));
  EXPECT_EQ(entry[4 + 68], 0x13);  // level 9, polarity 1
  std::vector<HessianGradientFeaturePtr> back;
  float header = 0.0f;
  ASSERT_EQ(parseDescriptorEntry(entry.data(), entry.size(), "n", back, header), 0);
  EXPECT_EQ(header, -0.75f);
  ASSERT_EQ(back.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(back[i]->level, features[i]->level);
    EXPECT_EQ(back[i]->polarity, features[i]->polarity);
    EXPECT_EQ(back[i]->x, features[i]->x);
    EXPECT_EQ(back[i]->y, features[i]->y);
    EXPECT_EQ(back[i]->descriptor, features[i]->descriptor);
  }
  features[1]->x = 4096;
  EXPECT_FALSE(encodeDescriptorEntry(1.0f, features, entry));
  EXPECT_TRUE(entry.empty());
  features[1]->x = 0;
  features[1]->level = 20;
  EXPECT_FALSE(encodeDescriptorEntry(1.0f, features, entry));
  features[1] = nullptr;
  EXPECT_FALSE(encodeDescriptorEntry(1.0f, features, entry));
}

TEST(EntryWriter, TrackingEntryRoundTripsAndRefusesUnfitFields) {
  std::vector<FeaturePtr> features;
  for (int i = 0; i < 2; ++i) {
    auto f = std::make_shared<Feature>();
    f->x = i == 0 ? -2 : 32767;
    f->y = i == 0 ? 300 : -32768;
    f->layer = 3 + i;
    f->polarity = static_cast<uint8_t>(i);
    f->descriptor.reset(new uint8_t[64]);
    std::vector<uint8_t> d = descriptorBytes(static_cast<uint8_t>(i));
    std::memcpy(f->descriptor.get(), d.data(), 64);
    features.push_back(f);
  }
  std::vector<uint8_t> entry;
  ASSERT_TRUE(encodeTrackingEntry(640, 480, features, entry));
  ASSERT_EQ(entry.size(), 3u + 2u * 69u);
  EXPECT_EQ(std::vector<uint8_t>(entry.begin(), entry.begin() + 8),
            (std::vector<uint8_t>{0x28, 0x01, 0xE0, 0x06, 0xFF, 0xFE, 0x01, 0x2C}));
  std::vector<FeaturePtr> back;
  int32_t width = 0;
  int32_t height = 0;
  ASSERT_EQ(parseTrackingEntry(entry.data(), entry.size(), back, width, height), 0);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  ASSERT_EQ(back.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(back[i]->x, features[i]->x);
    EXPECT_EQ(back[i]->y, features[i]->y);
    EXPECT_EQ(back[i]->layer, features[i]->layer);
    EXPECT_EQ(back[i]->polarity, features[i]->polarity);
    EXPECT_EQ(std::memcmp(back[i]->descriptor.get(), features[i]->descriptor.get(), 64), 0);
  }
  EXPECT_FALSE(encodeTrackingEntry(4096, 480, features, entry));
  features[0]->x = 32768;
  EXPECT_FALSE(encodeTrackingEntry(640, 480, features, entry));
  features[0]->x = 0;
  features[0]->descriptor.reset();
  EXPECT_FALSE(encodeTrackingEntry(640, 480, features, entry));
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
