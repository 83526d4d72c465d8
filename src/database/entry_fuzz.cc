// Fuzz target: the descriptor and tracking-feature entry parsers on raw
// entry bytes; the first byte picks the parser.
#include <cstdint>
#include <string>
#include <vector>

#include "database/entry_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vornik;
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  ++data;
  --size;
  if (selector & 1) {
    std::vector<FeaturePtr> out;
    int32_t width = 0;
    int32_t height = 0;
    int32_t result = parseTrackingEntry(data, size, out, width, height);
    if (result == 0 && size != kTrackingHeaderBytes + out.size() * kTrackingRecordBytes) {
      __builtin_trap();
    }
    if (width < 0 || width > 0xFFF || height < 0 || height > 0xFFF) __builtin_trap();
  } else {
    std::vector<HessianGradientFeaturePtr> out;
    float headerValue = 0.0f;
    int32_t result = parseDescriptorEntry(data, size, "t", out, headerValue);
    if (result == 0 && size != kDescriptorHeaderBytes + out.size() * kDescriptorRecordBytes) {
      __builtin_trap();
    }
    for (const HessianGradientFeaturePtr& f : out) {
      if (f->level >= kDescriptorLevelCount || f->descriptorKey < 0 ||
          f->descriptorKey > 0xFFFFFF) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
