#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "features/feature.h"
#include "features/hessian_gradient_feature.h"

namespace vornik {

// Descriptor entry (".dat"): little-endian float `headerValue`, then per
// feature the flag byte (level << 1 | polarity), x and y as 12-bit values in
// three big-endian bytes, and the 64 descriptor bytes. False (and `out` left
// empty) when a feature is null or a field does not fit: level 0..19,
// polarity 0..1, x and y 0..4095.
bool encodeDescriptorEntry(float headerValue,
                           const std::vector<HessianGradientFeaturePtr>& features,
                           std::vector<uint8_t>& out);

// Tracking-feature entry (".trk"): width and height as 12-bit values in three
// big-endian bytes, then per feature the flag byte (layer << 1 | polarity), x
// and y as signed big-endian 16-bit values and the 64 descriptor bytes. False
// (and `out` left empty) when a feature is null or has no descriptor, or a
// field does not fit: width and height 0..4095, layer 0..127, x and y within
// -32768..32767.
bool encodeTrackingEntry(int32_t width, int32_t height, const std::vector<FeaturePtr>& features,
                         std::vector<uint8_t>& out);

// Builds a group file in memory: one record (0x80, name 0x01, data 0x02,
// 0xC0) per entry, in the order added.
class GroupFileWriter {
 public:
  // False when the name is longer than 255 bytes or the data reaches 4 GiB.
  bool addEntry(const std::string& name, const std::vector<uint8_t>& data);
  bool addEntry(const std::string& name, const std::string& text);

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t entryCount() const { return entryCount_; }
  // Writes the group file; false when it cannot be created or written.
  bool writeFile(const std::string& path) const;

 private:
  bool addEntry(const std::string& name, const uint8_t* data, size_t size);

  std::vector<uint8_t> bytes_;
  size_t entryCount_ = 0;
};

}  // namespace vornik
