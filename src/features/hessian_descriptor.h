#pragma once
#include <array>
#include <cstdint>

#include "features/feature.h"
#include "features/integral_image.h"

namespace vornik {

constexpr int32_t kOrientationSampleCount = 109;  // offsets with i^2 + j^2 < 36
constexpr int32_t kHessianDescriptorSize = 64;

// Work arrays of the orientation: weighted wavelet responses of each sample
// and their directions (-1 for a sample without any response).
struct ResponseAndAngle {
  std::array<float, kOrientationSampleCount> responseX{};
  std::array<float, kOrientationSampleCount> responseY{};
  std::array<float, kOrientationSampleCount> angle{};
};

// Direction of (x, y) in [0, 2 pi), by quadrant from atan.
float quadrantAngle(float x, float y);

// Dominant direction (radians, [0, 2 pi)) of the Haar responses around a
// feature: the 60-degree window with the longest summed response vector.
float computeOrientation(const IntegralImage& integral, int32_t x, int32_t y, float scale,
                         ResponseAndAngle* work);

// The 64 unquantised values (16 sub-regions x {sum u, sum |u|, sum w,
// sum |w|}) of a feature with the given orientation.
void computeHessianDescriptorValues(const IntegralImage& integral, int32_t x, int32_t y,
                                    float scale, float orientation, float* values);

// Bytes of the 64 values: signed sums map [-m, m] to 0 .. 255, absolute sums
// [0, m'] to 0 .. 255.
void quantizeHessianDescriptor(const float* values, uint8_t* bytes);

// Orientation and descriptor of one feature.
void describeFeature(const IntegralImage& integral, Feature* feature, ResponseAndAngle* work);

}  // namespace vornik
