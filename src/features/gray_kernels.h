#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/cpu_features.h"

namespace vornik {

// The grey conversion and the halving in every form this processor can run.
// Each fast form gives the plain loop's bytes exactly; convertToGray and
// downsampleHalfInto pick the fastest.
using GrayConversion = void (*)(const uint8_t* bgr, size_t count, uint8_t* gray);
using HalfDownsampling = void (*)(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst);

// The plain loops, the references the fast forms are tested against.
void convertToGrayScalar(const uint8_t* bgr, size_t count, uint8_t* gray);
void downsampleHalfScalar(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst);

// The scalar form first, then the vector forms the processor offers.
std::vector<NamedKernel<GrayConversion>> grayConversions();
std::vector<NamedKernel<HalfDownsampling>> halfDownsamplings();

// The fastest available form, chosen once.
GrayConversion bestGrayConversion();
HalfDownsampling bestHalfDownsampling();

}  // namespace vornik
