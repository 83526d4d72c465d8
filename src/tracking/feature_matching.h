#pragma once
#include <cstdint>
#include <vector>

#include "features/feature.h"

namespace vornik {

// Largest descriptor distance that still counts as a match, and its square,
// which is what the integer kernel compares against.
constexpr double kMaxMatchDistance = 300.0;
constexpr int32_t kMaxMatchSquaredDistance = 90000;

// Sum of squared differences of two 64-byte descriptors.
int32_t descriptorSquaredDistance(const uint8_t* a, const uint8_t* b);

// Exhaustive mutual nearest-neighbour matching of target features against
// frame features. Sets every feature's matchIndex to its nearest neighbour in
// the other list (same polarity only, Euclidean descriptor distance at most
// 300, earliest on ties; -1 when none qualifies or the feature has no
// descriptor) and returns the mutual pairs as one flat vector, target feature
// then frame feature, in target order. Null entries are skipped.
std::vector<FeaturePtr> matchFeaturesMutual(const std::vector<FeaturePtr>& target,
                                            const std::vector<FeaturePtr>& frame);

}  // namespace vornik
