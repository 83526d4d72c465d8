#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "features/feature.h"
#include "features/hessian_descriptor.h"
#include "features/integral_image.h"

namespace vornik {

// Features of one camera frame are described only up to this many per layer.
constexpr int32_t kDescribedPerLayer = 60;
// The most a host may ask for instead (the detector keeps fewer on most
// frames anyway).
constexpr int32_t kMaxDescribedPerLayer = 1000;

// Hessian features of one frame, one list per response layer (strongest
// first), with the integral image they were found on.
class FeatureMngr {
 public:
  FeatureMngr(int32_t layerCount, std::shared_ptr<const IntegralImage> integral);

  int32_t layerCount() const { return static_cast<int32_t>(layers_.size()); }
  // An empty list for a layer outside 0 .. layerCount() - 1.
  const std::vector<FeaturePtr>& featuresOfLayer(int32_t layer) const;
  // Null for a bad layer.
  std::vector<FeaturePtr>* mutableFeaturesOfLayer(int32_t layer);

  // The first `perLayer` (60 unless a host asked for more) features of each
  // layer, layer 0 first; features without a descriptor get orientation and
  // descriptor now, described ones are returned unchanged.
  std::vector<FeaturePtr> describe(int32_t perLayer = kDescribedPerLayer);

  const std::shared_ptr<const IntegralImage>& integralImage() const { return integral_; }
  const ResponseAndAngle& responseAndAngle() const { return *responseAndAngle_; }

 private:
  std::vector<std::vector<FeaturePtr>> layers_;
  std::shared_ptr<const IntegralImage> integral_;
  std::shared_ptr<ResponseAndAngle> responseAndAngle_;
};

}  // namespace vornik
