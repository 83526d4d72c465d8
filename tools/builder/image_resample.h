#pragma once
#include "common/image_io.h"

namespace vornik {

// Resamples `source` (1 or 3 channels) to width x height with a separable
// tent filter whose support grows with the reduction, so that shrinking
// averages like a camera pixel does and enlarging is bilinear. Sizes below 1
// give an empty image.
Image resampleImage(const Image& source, int width, int height);

// The target image as it is stored: scaled so that its longer side is
// `workingSize` pixels (the shorter side rounded, at least 1).
Image normaliseTargetImage(const Image& source, int workingSize);

// Left-right mirror image of a 1-channel image.
Image mirrorGreyImage(const Image& grey);

}  // namespace vornik
