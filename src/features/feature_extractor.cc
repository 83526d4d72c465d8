#include "features/feature_extractor.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <smmintrin.h>
#define VORNIK_MAXIMA_SSE41 1
#endif

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

namespace {

// Columns c in [begin, end) of `row` whose value exceeds the threshold and
// the 24 others of its 5 x 5 block (rows `stride` apart), in order.
int32_t scanMaximaRowScalar(const int32_t* row, ptrdiff_t stride, int32_t begin, int32_t end,
                            int32_t* columns) {
  int32_t count = 0;
  for (int32_t c = begin; c < end; ++c) {
    const int32_t v = row[c];
    if (v <= kHessianMinResponse) continue;
    bool isMax = true;
    for (int32_t dr = -2; dr <= 2 && isMax; ++dr) {
      const int32_t* neighbours = row + dr * stride + c;
      for (int32_t dc = -2; dc <= 2; ++dc) {
        if ((dr != 0 || dc != 0) && neighbours[dc] >= v) {
          isMax = false;
          break;
        }
      }
    }
    if (isMax) columns[count++] = c;
  }
  return count;
}

#if VORNIK_MAXIMA_SSE41
// (A lambda would not inherit the target attribute.)
__attribute__((target("sse4.1"))) inline __m128i loadCells(const int32_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Four cells at a time: a cell is kept when it is above the threshold and
// above the largest of its 24 neighbours, without a branch per neighbour.
__attribute__((target("sse4.1"))) int32_t scanMaximaRowSse41(const int32_t* row, ptrdiff_t stride,
                                                             int32_t begin, int32_t end,
                                                             int32_t* columns) {
  const __m128i threshold = _mm_set1_epi32(kHessianMinResponse);
  int32_t count = 0;
  int32_t c = begin;
  for (; c + 4 <= end; c += 4) {
    const int32_t* p = row + c;
    const __m128i v = loadCells(p);
    const __m128i above = _mm_cmpgt_epi32(v, threshold);
    if (_mm_movemask_epi8(above) == 0) continue;
    __m128i m = _mm_max_epi32(_mm_max_epi32(loadCells(p - 2), loadCells(p - 1)),
                              _mm_max_epi32(loadCells(p + 1), loadCells(p + 2)));
    for (ptrdiff_t dr : {-2, -1, 1, 2}) {
      const int32_t* q = p + dr * stride;
      m = _mm_max_epi32(
          m, _mm_max_epi32(
                 _mm_max_epi32(loadCells(q - 2), loadCells(q - 1)),
                 _mm_max_epi32(loadCells(q), _mm_max_epi32(loadCells(q + 1), loadCells(q + 2)))));
    }
    int32_t bits = _mm_movemask_ps(_mm_castsi128_ps(_mm_and_si128(above, _mm_cmpgt_epi32(v, m))));
    for (int32_t lane = 0; bits != 0; ++lane, bits >>= 1) {
      if (bits & 1) columns[count++] = c + lane;
    }
  }
  return count + scanMaximaRowScalar(row, stride, c, end, columns + count);
}
#endif

}  // namespace

std::vector<NamedKernel<MaximaRowScan>> maximaRowScans() {
  std::vector<NamedKernel<MaximaRowScan>> forms = {{"scalar", scanMaximaRowScalar}};
#if VORNIK_MAXIMA_SSE41
  if (cpuHasSse41()) forms.push_back({"sse4.1", scanMaximaRowSse41});
#endif
  return forms;
}

void findLayerMaxima(const ResponseLayer& layer, int32_t layerIndex,
                     std::vector<FeaturePtr>* features, MaximaRowScan scan) {
  static const MaximaRowScan best = maximaRowScans().back().run;
  if (scan == nullptr) scan = best;
  const int32_t m = (layer.filterSize + 1) / (2 * layer.step);
  const int32_t w = layer.width;
  const float scale = static_cast<float>(layer.filterSize) * 1.2f / 9.0f;
  // The 5 x 5 block must stay inside the layer whatever the filter size.
  const int32_t first = std::max(m + 1, 2);
  const int32_t rowEnd = std::min(layer.height - m, layer.height - 2);
  const int32_t colEnd = std::min(w - m, w - 2);
  std::vector<int32_t> columns(static_cast<size_t>(std::max(w, 0)));
  for (int32_t r = first; r < rowEnd; ++r) {
    const int32_t* row = &layer.responses[static_cast<size_t>(r) * w];
    const int32_t count = scan(row, w, first, colEnd, columns.data());
    for (int32_t i = 0; i < count; ++i) {
      const int32_t c = columns[i];
      auto feature = std::make_shared<Feature>();
      feature->x = layer.step * c;
      feature->y = layer.step * r;
      feature->scale = scale;
      feature->layer = layerIndex;
      feature->polarity = layer.laplacianAt(r, c);
      feature->response = static_cast<float>(row[c]);
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
