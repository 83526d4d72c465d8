#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "features/feature.h"

namespace vornik {

// A recognition feature: a corner of a camera frame, or a feature stored in a
// descriptor entry of the database. Both sides reduce it to the same 64 bytes
// and the same descriptorKey.
struct HessianGradientFeature {
  float scale = 0.0f;  // width of level 0 / width of the feature's level
  int32_t level = 0;   // pyramid level (camera) or stored level code (database)
  int32_t x = 0;       // position in pixels of that level
  int32_t y = 0;
  uint8_t polarity = 0;                                // 1: centre darker than or equal to its ring
  int32_t orientationBin = 0;                          // 0..35, 10 degrees each
  std::array<uint8_t, kDescriptorBytes> descriptor{};  // byte 4*cell + component
  std::array<float, kDescriptorBytes> descriptorValues{};  // unquantised (camera only)
  std::string name;                                        // target name (database features)
  int32_t descriptorKey = 0;
};

using HessianGradientFeaturePtr = std::shared_ptr<HessianGradientFeature>;

}  // namespace vornik
