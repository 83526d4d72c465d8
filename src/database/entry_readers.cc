#include "database/entry_readers.h"

#include <cmath>

#include "features/descriptor_key.h"

namespace vornik {
namespace {

struct LevelScales {
  float value[kDescriptorLevelCount];
  LevelScales() {
    // Factors 2^(i/5) from single-precision exponents, stored as floats; the
    // octave factor multiplies in single precision.
    float factor[5];
    for (int i = 0; i < 5; ++i) {
      factor[i] =
          static_cast<float>(std::pow(2.0, static_cast<double>(static_cast<float>(i) / 5.0f)));
    }
    const float octave[4] = {1.0f, 2.0f, 4.0f, 8.0f};
    for (int level = 0; level < kDescriptorLevelCount; ++level) {
      value[level] = factor[level % 5] * octave[level / 5];
    }
  }
};

const LevelScales& levelScales() {
  static const LevelScales scales;
  return scales;
}

}  // namespace

float descriptorLevelScale(int32_t level) {
  if (level < 0 || level >= kDescriptorLevelCount) return 0.0f;
  return levelScales().value[level];
}

int32_t parseDescriptorEntry(const uint8_t* data, size_t size, const std::string& targetName,
                             std::vector<HessianGradientFeaturePtr>& out, float& headerValue) {
  const LevelScales& scales = levelScales();
  return walkDescriptorEntry(data, size, headerValue, [&](const DescriptorRecordView& record) {
    auto feature = std::make_shared<HessianGradientFeature>();
    feature->scale = scales.value[record.level];
    feature->level = record.level;
    feature->x = record.x;
    feature->y = record.y;
    feature->polarity = record.polarity;
    std::memcpy(feature->descriptor.data(), record.descriptor, kDescriptorBytes);
    feature->name = targetName;
    feature->descriptorKey = descriptorKey(record.descriptor);
    out.push_back(std::move(feature));
  });
}

int32_t parseTrackingEntry(const uint8_t* data, size_t size, std::vector<FeaturePtr>& out,
                           int32_t& width, int32_t& height) {
  if (size < kTrackingHeaderBytes) return kDbMalformed;
  uint32_t v = static_cast<uint32_t>(data[0]) << 16 | static_cast<uint32_t>(data[1]) << 8 | data[2];
  width = static_cast<int32_t>((v >> 12) & 0xFFF);
  height = static_cast<int32_t>(v & 0xFFF);
  size_t position = kTrackingHeaderBytes;
  while (position != size) {
    if (size - position < kTrackingRecordBytes) return kDbMalformed;
    const uint8_t* record = data + position;
    auto feature = std::make_shared<Feature>();
    feature->layer = record[0] >> 1;
    feature->polarity = record[0] & 1;
    feature->x = static_cast<int16_t>(static_cast<uint16_t>(record[1] << 8 | record[2]));
    feature->y = static_cast<int16_t>(static_cast<uint16_t>(record[3] << 8 | record[4]));
    feature->descriptor.reset(new uint8_t[kDescriptorBytes]);
    std::memcpy(feature->descriptor.get(), record + 5, kDescriptorBytes);
    out.push_back(std::move(feature));
    position += kTrackingRecordBytes;
  }
  return kDbOk;
}

}  // namespace vornik
