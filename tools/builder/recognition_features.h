#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "common/image_io.h"
#include "features/corner_detection.h"
#include "features/gradient_descriptor.h"

namespace vornik {

// Scale levels of a descriptor entry: level code L stands for the target
// shrunk by 2^(L/5).
constexpr int32_t kRecognitionLevelCount = 20;
// Largest coordinate a descriptor record can hold (12 bits).
constexpr int32_t kMaxRecordCoordinate = 4095;

// One record of a descriptor entry, with the key its bytes give.
struct RecognitionRecord {
  int32_t level = 0;  // level code 0 .. 19
  uint8_t polarity = 0;
  int32_t x = 0;  // pixels of that level
  int32_t y = 0;
  std::array<uint8_t, kDescriptorBytes> descriptor{};
  int32_t key = 0;
  int32_t score = 0;  // FAST score, or the training count once trained
};

// 2^(level / 5), the factor by which level `level` is smaller than the
// target image.
double recognitionLevelScale(int32_t level);

// Polarity and key packed for maps and sets: polarity << 24 | key.
inline uint32_t polarKey(uint8_t polarity, int32_t key) {
  return (static_cast<uint32_t>(polarity) << 24) | static_cast<uint32_t>(key);
}

// Candidate features of the target's scale levels: for every level code the
// grey target resampled to 1 / 2^(L/5) of its size, its FAST corners
// (threshold 12, scored, non-maximum suppressed, strongest first, 16 pixels
// from every border, at most `perLevel`), each described, quantised and keyed
// with the recognizer's own functions.
std::vector<RecognitionRecord> levelRecognitionFeatures(const Image& grayTarget, int perLevel,
                                                        GradientDescriptor* descriptor);

// A recognition feature of a camera frame exactly as the recognizer computes
// it (pyramid, corner budget, description, quantisation, key).
struct FrameRecognitionFeature {
  int32_t level = 0;   // pyramid level of the frame
  float scale = 1.0f;  // frame pixels per level pixel
  int32_t x = 0;       // level pixels
  int32_t y = 0;
  uint8_t polarity = 0;
  std::array<uint8_t, kDescriptorBytes> descriptor{};
  int32_t key = 0;
};

// A key a frame feature would give had its orientation come out one bin
// over: tilt and blur move a corner's dominant direction, mostly by one bin.
struct OrientationVariant {
  size_t feature = 0;                                  // index into the frame's feature list
  std::array<uint8_t, kDescriptorBytes> descriptor{};  // bytes giving `key`
  int32_t key = 0;
};

// Share of the peak a neighbouring orientation bin must hold for its
// variant to count: weaker neighbours rarely win under a new view.
constexpr double kVariantPeakShare = 0.6;

// With `variants`, also the variant keys of every feature whose
// neighbouring bins hold at least kVariantPeakShare of the peak (those
// that differ from the feature's own key).
// `cornerBudget` is the recognizer's corners per frame.
std::vector<FrameRecognitionFeature> frameRecognitionFeatures(
    const uint8_t* gray, int32_t width, int32_t height, GradientDescriptor* descriptor,
    std::vector<OrientationVariant>* variants = nullptr,
    int32_t cornerBudget = kRecognitionCornerBudget);

}  // namespace vornik
