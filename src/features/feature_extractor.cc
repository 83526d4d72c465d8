#include "features/feature_extractor.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "manager/log.h"
#include "manager/profiler.h"

namespace vornik {

namespace {
constexpr int32_t kInputBgr = 0;
constexpr int32_t kInputGray = 1;
}  // namespace

FeatureExtractor::FeatureExtractor(int32_t width, int32_t height, int32_t inputFormat)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      inputFormat_(inputFormat),
      integral_(std::make_shared<IntegralImage>(width_, height_)) {
  for (int32_t filter : kHessianFilterSizes) {
    layers_.push_back(
        std::make_shared<ResponseLayer>(width_ / step_, height_ / step_, step_, filter));
  }
}

void findLayerMaxima(const ResponseLayer& layer, int32_t layerIndex,
                     std::vector<FeaturePtr>* features) {
  const int32_t m = (layer.filterSize + 1) / (2 * layer.step);
  const int32_t w = layer.width;
  const float scale = static_cast<float>(layer.filterSize) * 1.2f / 9.0f;
  // The 5 x 5 block must stay inside the layer whatever the filter size.
  const int32_t first = std::max(m + 1, 2);
  const int32_t rowEnd = std::min(layer.height - m, layer.height - 2);
  const int32_t colEnd = std::min(w - m, w - 2);
  for (int32_t r = first; r < rowEnd; ++r) {
    const int32_t* row = &layer.responses[static_cast<size_t>(r) * w];
    for (int32_t c = first; c < colEnd; ++c) {
      const int32_t v = row[c];
      if (v <= kHessianMinResponse) continue;
      bool isMax = true;
      for (int32_t dr = -2; dr <= 2 && isMax; ++dr) {
        const int32_t* neighbours = row + static_cast<ptrdiff_t>(dr) * w + c;
        for (int32_t dc = -2; dc <= 2; ++dc) {
          if ((dr != 0 || dc != 0) && neighbours[dc] >= v) {
            isMax = false;
            break;
          }
        }
      }
      if (!isMax) continue;
      auto feature = std::make_shared<Feature>();
      feature->x = layer.step * c;
      feature->y = layer.step * r;
      feature->scale = scale;
      feature->layer = layerIndex;
      feature->polarity = layer.laplacianAt(r, c);
      feature->response = static_cast<float>(v);
      features->push_back(std::move(feature));
    }
  }
}

std::shared_ptr<FeatureMngr> FeatureExtractor::extract(const uint8_t* pixels) {
  if (inputFormat_ != kInputBgr && inputFormat_ != kInputGray) return nullptr;
  if (pixels == nullptr) {
    logMessage("FeatureExtractor: no pixels\n");
    return nullptr;
  }
  // A manager of an earlier frame may still hold the integral image; it
  // keeps that one and this frame gets a fresh table.
  if (integral_.use_count() > 1) integral_ = std::make_shared<IntegralImage>(width_, height_);

  startTimer(kTimerInitPoseIntegral);
  integral_->compute(pixels, inputFormat_ == kInputBgr);
  stopTimer(kTimerInitPoseIntegral);

  startTimer(kTimerInitPoseDetection);
  for (auto& layer : layers_) layer->compute(*integral_);
  auto manager = std::make_shared<FeatureMngr>(static_cast<int32_t>(layers_.size()), integral_);
  for (int32_t li = 0; li < static_cast<int32_t>(layers_.size()); ++li) {
    std::vector<FeaturePtr>* list = manager->mutableFeaturesOfLayer(li);
    findLayerMaxima(*layers_[li], li, list);
    std::stable_sort(list->begin(), list->end(), [](const FeaturePtr& a, const FeaturePtr& b) {
      return a->response > b->response;
    });
  }
  stopTimer(kTimerInitPoseDetection);
  return manager;
}

}  // namespace vornik
