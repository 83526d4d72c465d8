#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "features/feature_mngr.h"
#include "features/integral_image.h"
#include "features/response_layer.h"
#include "platform/cpu_features.h"

namespace vornik {

constexpr int32_t kHessianStep = 2;
constexpr int32_t kHessianFilterSizes[2] = {21, 45};
// Responses up to this value are never features.
constexpr int32_t kHessianMinResponse = 99;

// Finds Hessian features in camera frames of one fixed size; the integral
// image and response layers are reused from frame to frame.
class FeatureExtractor {
 public:
  // inputFormat: 0 = 3-byte blue-green-red pixels, 1 = 8-bit grey.
  FeatureExtractor(int32_t width, int32_t height, int32_t inputFormat);

  // Features of each layer sorted by response, strongest first (equal
  // responses keep raster order). Null for an unknown input format or null
  // pixels.
  std::shared_ptr<FeatureMngr> extract(const uint8_t* pixels);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  const IntegralImage& integralImage() const { return *integral_; }
  const std::vector<std::shared_ptr<ResponseLayer>>& layers() const { return layers_; }

 private:
  int32_t width_;
  int32_t height_;
  int32_t inputFormat_;
  int32_t step_ = kHessianStep;
  std::shared_ptr<IntegralImage> integral_;
  std::vector<std::shared_ptr<ResponseLayer>> layers_;
};

// Writes to `columns` the columns c in [begin, end) of `row` whose value
// exceeds kHessianMinResponse and the 24 other cells of its 5 x 5 block
// (rows `stride` apart), in order; returns how many.
using MaximaRowScan = int32_t (*)(const int32_t* row, ptrdiff_t stride, int32_t begin, int32_t end,
                                  int32_t* columns);
// Every form this processor runs, the scalar reference first.
std::vector<NamedKernel<MaximaRowScan>> maximaRowScans();

// Appends to `features`, in raster order, every cell of the layer that
// exceeds kHessianMinResponse and all 24 other cells of its 5 x 5 block;
// `scan` picks a form (default: the fastest).
void findLayerMaxima(const ResponseLayer& layer, int32_t layerIndex,
                     std::vector<FeaturePtr>* features, MaximaRowScan scan = nullptr);

}  // namespace vornik
