#pragma once
#include <cstdint>

namespace vornik {

// Pixel convention of the image pyramid. Halving averages 2 x 2 blocks, so
// pixel p of level l covers full-resolution pixels 2^l p .. 2^l p + 2^l - 1
// and its centre lies at 2^l p + (2^l - 1) / 2. Every position conversion
// between levels, and between a level and the target plane or the camera,
// goes through these functions so the half-pixel offset is never dropped.

// 2^level for a pyramid level (0 .. Frame::kMaxLevels - 1).
inline float levelScale(int32_t level) { return static_cast<float>(1 << level); }

// Full-resolution position of position p on `level`.
inline float fromLevel(float p, int32_t level) {
  const float s = levelScale(level);
  return p * s + 0.5f * (s - 1.0f);
}

// Position on `level` of full-resolution position x.
inline float toLevel(float x, int32_t level) {
  const float s = levelScale(level);
  return (x - 0.5f * (s - 1.0f)) / s;
}

// Plane and normalised camera coordinates along one axis: in units of the
// full-resolution width, origin at the integer half of the full-resolution
// size of that axis (fullSize is the width or the height). The target
// plane's Y grows upwards: for rows callers pass the height and negate Y.
inline float levelToUnit(float p, int32_t level, int32_t fullSize, int32_t fullWidth) {
  return (fromLevel(p, level) - static_cast<float>(fullSize >> 1)) / static_cast<float>(fullWidth);
}

inline float unitToLevel(float u, int32_t level, int32_t fullSize, int32_t fullWidth) {
  return toLevel(u * static_cast<float>(fullWidth) + static_cast<float>(fullSize >> 1), level);
}

// Pixels of `level` per plane unit: the focal length on that level.
inline float levelUnit(int32_t fullWidth, int32_t level) {
  return static_cast<float>(fullWidth) / levelScale(level);
}

}  // namespace vornik
