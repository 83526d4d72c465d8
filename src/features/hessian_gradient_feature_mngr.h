#pragma once
#include <cstdint>
#include <vector>

#include "features/hessian_gradient_feature.h"

namespace vornik {

// Recognition features of one frame, one list per pyramid level.
class HessianGradientFeatureMngr {
 public:
  explicit HessianGradientFeatureMngr(int32_t levelCount);

  int32_t levelCount() const { return static_cast<int32_t>(levels_.size()); }

  // Appends to the list of `level`; false (nothing stored) for a level
  // outside 0 .. levelCount() - 1 or a null feature.
  bool addFeature(int32_t level, HessianGradientFeaturePtr feature);

  // Copy of one level's list (same feature objects); empty for a bad level.
  std::vector<HessianGradientFeaturePtr> featuresOfLevel(int32_t level) const;
  // The same list without copying; an empty list for a bad level.
  const std::vector<HessianGradientFeaturePtr>& levelFeatures(int32_t level) const;

  // All features, level 0 first, each level in insertion order.
  std::vector<HessianGradientFeaturePtr> allFeatures() const;
  size_t featureCount() const;

 private:
  std::vector<std::vector<HessianGradientFeaturePtr>> levels_;
};

}  // namespace vornik
