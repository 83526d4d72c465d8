#include "features/response_layer.h"

#include <algorithm>
#include <cstddef>

namespace vornik {

namespace {

// Weight 52/64 of the mixed term, in integers.
constexpr int32_t kDiagonalWeight = 64;
constexpr int32_t kMixedWeight = 52;

// The filter size is a template argument so the divisions by the area become
// multiplications.
template <int32_t F>
void computeLayer(const IntegralImage& integral, ResponseLayer* layer) {
  constexpr int32_t b = (F - 1) / 2;
  constexpr int32_t l = F / 3;
  constexpr int32_t area = F * F;
  const int32_t band = layer->band();
  const int32_t step = layer->step;
  const ptrdiff_t s = integral.stride();
  const uint32_t* base = integral.data();
  // Inclusive rectangle rows y0..y1, columns x0..x1 relative to the centre.
  struct Box {
    ptrdiff_t a, bb, c, d;  // offsets of [y0][x0], [y0][x1+1], [y1+1][x0], [y1+1][x1+1]
  };
  auto box = [s](int32_t y0, int32_t y1, int32_t x0, int32_t x1) {
    return Box{y0 * s + x0, y0 * s + (x1 + 1), (y1 + 1) * s + x0, (y1 + 1) * s + (x1 + 1)};
  };
  const Box xxOuter = box(-l + 1, l - 1, -b, b);
  const Box xxMiddle = box(-l + 1, l - 1, -l / 2, -l / 2 + l - 1);
  const Box yyOuter = box(-b, b, -l + 1, l - 1);
  const Box yyMiddle = box(-l / 2, -l / 2 + l - 1, -l + 1, l - 1);
  const Box xyUpperRight = box(-b, -1, 1, b);
  const Box xyLowerLeft = box(1, b, -b, -1);
  const Box xyUpperLeft = box(-b, -1, -b, -1);
  const Box xyLowerRight = box(1, b, 1, b);

  for (int32_t r = band; r < layer->height - band; ++r) {
    int32_t* out = &layer->responses[static_cast<size_t>(r) * layer->width];
    uint8_t* lap = &layer->laplacian[static_cast<size_t>(r) * layer->width];
    const uint32_t* row = base + static_cast<ptrdiff_t>(r) * step * s;
    for (int32_t c = band; c < layer->width - band; ++c) {
      const uint32_t* p = row + static_cast<ptrdiff_t>(c) * step;
      auto sum = [p](const Box& q) {
        return static_cast<int32_t>(p[q.d] - p[q.bb] - p[q.c] + p[q.a]);
      };
      const int32_t dxx = (sum(xxOuter) - 3 * sum(xxMiddle)) / area;
      const int32_t dyy = (sum(yyOuter) - 3 * sum(yyMiddle)) / area;
      const int32_t dxy =
          (sum(xyUpperRight) + sum(xyLowerLeft) - sum(xyUpperLeft) - sum(xyLowerRight)) / area;
      out[c] = kDiagonalWeight * dxx * dyy - kMixedWeight * dxy * dxy;
      lap[c] = dxx + dyy >= 0 ? 1 : 0;
    }
  }
}

// Any other filter size, with run-time constants.
void computeLayerGeneric(const IntegralImage& integral, ResponseLayer* layer) {
  const int32_t f = layer->filterSize;
  const int32_t b = (f - 1) / 2;
  const int32_t l = f / 3;
  const int32_t area = f * f;
  const int32_t band = layer->band();
  auto S = [&](int32_t y0, int32_t y1, int32_t x0, int32_t x1) {
    return boxSum(integral, y0, y1 + 1, x0, x1 + 1);
  };
  for (int32_t r = band; r < layer->height - band; ++r) {
    for (int32_t c = band; c < layer->width - band; ++c) {
      const int32_t y = r * layer->step;
      const int32_t x = c * layer->step;
      const int32_t dxx = (S(y - l + 1, y + l - 1, x - b, x + b) -
                           3 * S(y - l + 1, y + l - 1, x - l / 2, x - l / 2 + l - 1)) /
                          area;
      const int32_t dyy = (S(y - b, y + b, x - l + 1, x + l - 1) -
                           3 * S(y - l / 2, y - l / 2 + l - 1, x - l + 1, x + l - 1)) /
                          area;
      const int32_t dxy = (S(y - b, y - 1, x + 1, x + b) + S(y + 1, y + b, x - b, x - 1) -
                           S(y - b, y - 1, x - b, x - 1) - S(y + 1, y + b, x + 1, x + b)) /
                          area;
      const size_t i = static_cast<size_t>(r) * layer->width + c;
      layer->responses[i] = kDiagonalWeight * dxx * dyy - kMixedWeight * dxy * dxy;
      layer->laplacian[i] = dxx + dyy >= 0 ? 1 : 0;
    }
  }
}

}  // namespace

ResponseLayer::ResponseLayer(int32_t w, int32_t h, int32_t st, int32_t f)
    : width(std::max(w, 0)),
      height(std::max(h, 0)),
      step(std::max(st, 1)),
      filterSize(f),
      responses(static_cast<size_t>(width) * height, 0),
      laplacian(static_cast<size_t>(width) * height, 0) {}

int32_t ResponseLayer::band() const {
  // ceil((f - 1) / (2 step))
  return (filterSize - 1 + 2 * step - 1) / (2 * step);
}

void ResponseLayer::compute(const IntegralImage& integral) {
  // Outside the band nothing is written, so those cells stay 0 from the
  // constructor. The band also keeps every box inside the image as long as
  // the layer is no larger than the image divided by the step.
  if (integral.width() < width * step || integral.height() < height * step) return;
  if (step == 2 && filterSize == 21) {
    computeLayer<21>(integral, this);
  } else if (step == 2 && filterSize == 45) {
    computeLayer<45>(integral, this);
  } else {
    computeLayerGeneric(integral, this);
  }
}

}  // namespace vornik
