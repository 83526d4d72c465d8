#pragma once
#include <cstdint>
#include <memory>

namespace vornik {

// Bytes of every stored and computed feature descriptor, Hessian and gradient alike.
constexpr int kDescriptorBytes = 64;

// A Hessian (box-filter) interest point used for the initial pose: found in a
// camera frame, or read from a tracking-feature entry of the database.
struct Feature {
  int32_t x = 0;  // position in image pixels (stored: target pixels from the centre, y up)
  int32_t y = 0;
  float scale = 0.0f;
  int32_t layer = 0;  // response layer (stored: the level code)
  uint8_t polarity = 0;
  float orientation = 0.0f;               // radians, [0, 2*pi)
  std::unique_ptr<uint8_t[]> descriptor;  // 64 bytes once described, else null
  float response = 0.0f;
  int32_t matchIndex = -1;  // index into the other list after matching
};

using FeaturePtr = std::shared_ptr<Feature>;

}  // namespace vornik
