#include "features/hessian_gradient_feature_mngr.h"

#include <algorithm>
#include <utility>

namespace vornik {

HessianGradientFeatureMngr::HessianGradientFeatureMngr(int32_t levelCount)
    : levels_(static_cast<size_t>(std::max(levelCount, 0))) {}

bool HessianGradientFeatureMngr::addFeature(int32_t level, HessianGradientFeaturePtr feature) {
  if (level < 0 || level >= levelCount() || !feature) return false;
  levels_[level].push_back(std::move(feature));
  return true;
}

std::vector<HessianGradientFeaturePtr> HessianGradientFeatureMngr::featuresOfLevel(
    int32_t level) const {
  return levelFeatures(level);
}

const std::vector<HessianGradientFeaturePtr>& HessianGradientFeatureMngr::levelFeatures(
    int32_t level) const {
  // Never destroyed, so a caller holding the reference at exit stays safe.
  static const std::vector<HessianGradientFeaturePtr>& kEmpty =
      *new std::vector<HessianGradientFeaturePtr>();
  if (level < 0 || level >= levelCount()) return kEmpty;
  return levels_[level];
}

std::vector<HessianGradientFeaturePtr> HessianGradientFeatureMngr::allFeatures() const {
  std::vector<HessianGradientFeaturePtr> all;
  all.reserve(featureCount());
  for (const auto& level : levels_) all.insert(all.end(), level.begin(), level.end());
  return all;
}

size_t HessianGradientFeatureMngr::featureCount() const {
  size_t count = 0;
  for (const auto& level : levels_) count += level.size();
  return count;
}

}  // namespace vornik
