#include "database/group_file_writer.h"

#include <cstdio>
#include <cstring>

#include "database/entry_readers.h"
#include "database/group_file_reader.h"
#include "platform/file_system.h"

namespace vornik {
namespace {

void append24(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void append16(std::vector<uint8_t>& out, int32_t value) {
  uint16_t bits = static_cast<uint16_t>(static_cast<int16_t>(value));
  out.push_back(static_cast<uint8_t>(bits >> 8));
  out.push_back(static_cast<uint8_t>(bits));
}

bool fits12(int32_t value) { return value >= 0 && value <= 0xFFF; }

}  // namespace

bool encodeDescriptorEntry(float headerValue,
                           const std::vector<HessianGradientFeaturePtr>& features,
                           std::vector<uint8_t>& out) {
  out.clear();
  std::vector<uint8_t> bytes;
  bytes.reserve(kDescriptorHeaderBytes + kDescriptorRecordBytes * features.size());
  uint32_t bits;
  std::memcpy(&bits, &headerValue, sizeof bits);
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  for (const HessianGradientFeaturePtr& feature : features) {
    if (!feature || feature->level < 0 || feature->level >= kDescriptorLevelCount ||
        feature->polarity > 1 || !fits12(feature->x) || !fits12(feature->y)) {
      return false;
    }
    bytes.push_back(static_cast<uint8_t>(feature->level << 1 | feature->polarity));
    append24(bytes, static_cast<uint32_t>(feature->x) << 12 | static_cast<uint32_t>(feature->y));
    bytes.insert(bytes.end(), feature->descriptor.begin(), feature->descriptor.end());
  }
  out.swap(bytes);
  return true;
}

bool encodeTrackingEntry(int32_t width, int32_t height, const std::vector<FeaturePtr>& features,
                         std::vector<uint8_t>& out) {
  out.clear();
  if (!fits12(width) || !fits12(height)) return false;
  std::vector<uint8_t> bytes;
  bytes.reserve(kTrackingHeaderBytes + kTrackingRecordBytes * features.size());
  append24(bytes, static_cast<uint32_t>(width) << 12 | static_cast<uint32_t>(height));
  for (const FeaturePtr& feature : features) {
    if (!feature || !feature->descriptor || feature->layer < 0 || feature->layer > 127 ||
        feature->polarity > 1 || feature->x < -32768 || feature->x > 32767 || feature->y < -32768 ||
        feature->y > 32767) {
      return false;
    }
    bytes.push_back(static_cast<uint8_t>(feature->layer << 1 | feature->polarity));
    append16(bytes, feature->x);
    append16(bytes, feature->y);
    bytes.insert(bytes.end(), feature->descriptor.get(),
                 feature->descriptor.get() + kDescriptorBytes);
  }
  out.swap(bytes);
  return true;
}

bool GroupFileWriter::addEntry(const std::string& name, const std::vector<uint8_t>& data) {
  return addEntry(name, data.data(), data.size());
}

bool GroupFileWriter::addEntry(const std::string& name, const std::string& text) {
  return addEntry(name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool GroupFileWriter::addEntry(const std::string& name, const uint8_t* data, size_t size) {
  if (name.size() > 255 || size > 0xFFFFFFFFull) return false;
  bytes_.push_back(kFieldRecordStart);
  bytes_.push_back(kFieldEntryName);
  bytes_.push_back(static_cast<uint8_t>(name.size()));
  bytes_.insert(bytes_.end(), name.begin(), name.end());
  bytes_.push_back(kFieldEntryData);
  const uint32_t size32 = static_cast<uint32_t>(size);
  bytes_.push_back(static_cast<uint8_t>(size32 >> 24));
  append24(bytes_, size32 & 0xFFFFFF);
  if (size > 0) bytes_.insert(bytes_.end(), data, data + size);
  bytes_.push_back(kFieldRecordEnd);
  ++entryCount_;
  return true;
}

bool GroupFileWriter::writeFile(const std::string& path) const {
  std::FILE* file = openFile(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = bytes_.empty() || std::fwrite(bytes_.data(), 1, bytes_.size(), file) == bytes_.size();
  ok = std::fclose(file) == 0 && ok;
  return ok;
}

}  // namespace vornik
