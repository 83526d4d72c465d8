#include "features/feature_mngr.h"

#include <algorithm>
#include <utility>

namespace vornik {

FeatureMngr::FeatureMngr(int32_t layerCount, std::shared_ptr<const IntegralImage> integral)
    : layers_(static_cast<size_t>(std::max(layerCount, 0))),
      integral_(std::move(integral)),
      responseAndAngle_(std::make_shared<ResponseAndAngle>()) {}

const std::vector<FeaturePtr>& FeatureMngr::featuresOfLayer(int32_t layer) const {
  // Never destroyed, so a caller holding the reference at exit stays safe.
  static const std::vector<FeaturePtr>& kEmpty = *new std::vector<FeaturePtr>();
  if (layer < 0 || layer >= layerCount()) return kEmpty;
  return layers_[layer];
}

std::vector<FeaturePtr>* FeatureMngr::mutableFeaturesOfLayer(int32_t layer) {
  if (layer < 0 || layer >= layerCount()) return nullptr;
  return &layers_[layer];
}

std::vector<FeaturePtr> FeatureMngr::describe(int32_t perLayer) {
  std::vector<FeaturePtr> described;
  const size_t limit = static_cast<size_t>(std::clamp(perLayer, 0, kMaxDescribedPerLayer));
  for (const auto& layer : layers_) {
    const size_t count = std::min(layer.size(), limit);
    for (size_t i = 0; i < count; ++i) {
      const FeaturePtr& feature = layer[i];
      if (!feature->descriptor && integral_) {
        describeFeature(*integral_, feature.get(), responseAndAngle_.get());
      }
      described.push_back(feature);
    }
  }
  return described;
}

}  // namespace vornik
