#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "database/database_result.h"
#include "features/feature.h"
#include "features/hessian_gradient_feature.h"

namespace vornik {

// Byte sizes of the entry layouts.
constexpr size_t kDescriptorHeaderBytes = 4;
constexpr size_t kDescriptorRecordBytes = 68;
constexpr size_t kTrackingHeaderBytes = 3;
constexpr size_t kTrackingRecordBytes = 69;
// Levels 0..19 have a scale factor.
constexpr int32_t kDescriptorLevelCount = 20;

// One record of a descriptor entry as stored.
struct DescriptorRecordView {
  int32_t level;
  uint8_t polarity;
  int32_t x;
  int32_t y;
  const uint8_t* descriptor;  // 64 bytes inside the entry
};

// Scale of a stored level code 0..19: 2^(level/5), built from single-precision
// factors exactly as the live pyramid does.
float descriptorLevelScale(int32_t level);

// Walks a descriptor entry held in memory: `headerValue` gets the leading
// little-endian float, `visit` is called once per record in order. Returns 0,
// or 7 when the entry is shorter than its header, a record crosses its end or
// a record has a level of 20 or more; records before the fault were visited.
template <typename Visitor>
int32_t walkDescriptorEntry(const uint8_t* data, size_t size, float& headerValue, Visitor&& visit);

// The same, creating one HessianGradientFeature per record (appended to `out`)
// with scale, level, x, y, polarity, descriptor, name and descriptorKey set.
int32_t parseDescriptorEntry(const uint8_t* data, size_t size, const std::string& targetName,
                             std::vector<HessianGradientFeaturePtr>& out, float& headerValue);

// Parses a tracking-feature entry held in memory: width and height, then one
// Feature per record (x, y, layer, polarity, own 64-byte descriptor) appended
// to `out`. Returns 0, or 7 when the header is cut short or a record crosses
// the end; records before the fault stay in `out`.
int32_t parseTrackingEntry(const uint8_t* data, size_t size, std::vector<FeaturePtr>& out,
                           int32_t& width, int32_t& height);

// ---- implementation of the template ----

template <typename Visitor>
int32_t walkDescriptorEntry(const uint8_t* data, size_t size, float& headerValue, Visitor&& visit) {
  if (size < kDescriptorHeaderBytes) return kDbMalformed;
  // Stored little-endian whatever the host order.
  uint32_t bits = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                  static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  static_assert(sizeof(float) == sizeof(uint32_t), "32-bit float expected");
  std::memcpy(&headerValue, &bits, sizeof headerValue);
  size_t position = kDescriptorHeaderBytes;
  while (position != size) {
    if (size - position < kDescriptorRecordBytes) return kDbMalformed;
    const uint8_t* record = data + position;
    DescriptorRecordView view;
    view.level = record[0] >> 1;
    view.polarity = record[0] & 1;
    if (view.level >= kDescriptorLevelCount) return kDbMalformed;
    uint32_t v =
        static_cast<uint32_t>(record[1]) << 16 | static_cast<uint32_t>(record[2]) << 8 | record[3];
    view.x = static_cast<int32_t>((v >> 12) & 0xFFF);
    view.y = static_cast<int32_t>(v & 0xFFF);
    view.descriptor = record + 4;
    visit(view);
    position += kDescriptorRecordBytes;
  }
  return kDbOk;
}

}  // namespace vornik
