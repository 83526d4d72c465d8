#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "features/hessian_gradient_feature.h"
#include "features/hessian_gradient_feature_mngr.h"
#include "platform/cpu_features.h"

namespace vornik {

constexpr int32_t kOrientationBins = 36;
// Orientation samples: the offsets with dx^2 + dy^2 < 36.
constexpr int32_t kOrientationSampleTotal = 109;

// Histogram bin of a gradient direction: truncate(((pi - atan2(gy, gx)) /
// 2 pi) * 36) with the single-precision pi and 2 pi in double arithmetic.
int32_t gradientOrientationBin(int32_t gx, int32_t gy);
// The same for `count` gradients at once (4 or 8 per vector step where SIMD
// is available); zero gradients get bin 0.
void gradientOrientationBins(const int32_t* gx, const int32_t* gy, int32_t count, int32_t* bins);
// Every form of gradientOrientationBins this processor runs, the scalar
// reference first and the one used last.
using OrientationBinning = void (*)(const int32_t* gx, const int32_t* gy, int32_t count,
                                    int32_t* bins);
std::vector<NamedKernel<OrientationBinning>> orientationBinnings();

// The 5 x 5 gradient kernel on pixels [begin, end) of the row at `p` (rows of
// `w` bytes, two rows above and below, two pixels either side), into
// (gx, gy) pairs at g[2 x], g[2 x + 1]; every form this processor runs, the
// scalar reference first and the one used last.
using GradientRow = void (*)(const uint8_t* p, ptrdiff_t w, int32_t begin, int32_t end, int16_t* g);
std::vector<NamedKernel<GradientRow>> gradientRows();

// The tie separation of quantizeDescriptor over the 64 bytes `d` of the
// values `f`; every form this processor runs, the scalar reference first.
using TieSeparation = void (*)(const float* f, uint8_t* d);
std::vector<NamedKernel<TieSeparation>> tieSeparations();

// Orientation and 4 x 4-cell gradient descriptor of recognition corners.
// Holds work buffers and per-orientation sampling tables, so one instance is
// reused for every frame and must not be used by two threads at once.
class GradientDescriptor {
 public:
  GradientDescriptor();

  // Sets orientationBin and descriptorValues of every feature of `level` in
  // the manager, from the level image (packed rows of `width` bytes).
  void describeLevel(int32_t width, int32_t height, const uint8_t* pixels, int32_t level,
                     HessianGradientFeatureMngr* features);

  // Dominant gradient direction around (x, y): bin 0 .. 35, lowest bin on
  // ties.
  int32_t orientationBin(int32_t width, int32_t height, const uint8_t* pixels, int32_t x,
                         int32_t y);
  // The 64 unquantised cell sums at (x, y) for orientation `bin`.
  void computeValues(int32_t width, int32_t height, const uint8_t* pixels, int32_t x, int32_t y,
                     int32_t bin, float* values);

  // Fills feature->descriptor from feature->descriptorValues: scaled bytes,
  // then the tie separation that keeps each extreme's byte unique.
  static void quantizeDescriptor(HessianGradientFeature* feature);

  // Orientation histogram of the last orientationBin call.
  const std::array<double, kOrientationBins>& histogram() const { return histogram_; }

 private:
  std::array<double, kOrientationBins> histogram_{};
  // Per bin: pixel offsets (dx, dy) of the 21 x 21 sample grid.
  std::vector<std::array<int8_t, 2>> sampleOffsets_;
  // Rotated gradient components (a, b) of each sample of the 21 x 21 grid of
  // one feature, side by side: a cell's sums of both then take one load.
  std::vector<double> grid_;
  // Gradients of the level being described, for pixels at least 2 from
  // every border: neighbouring features share most of their samples, so
  // each pixel's kernel is evaluated once per level instead of per sample.
  // (gx, gy) side by side, so a sample's gradient is one load.
  std::vector<int16_t> levelGradients_;
  // Pixel offsets of the 109 orientation samples in rows of this width.
  int32_t orientationWidth_ = 0;
  std::array<int32_t, kOrientationSampleTotal> orientationOffsets_{};
  // Per row, the columns [begin, end) whose gradients some feature reads.
  std::vector<int32_t> spanBegin_;
  std::vector<int32_t> spanEnd_;

  // One orientation sample: its magnitude times its weight into its bin.
  void addToHistogram(int32_t gx, int32_t gy, float weight);
  // The bin with the largest sum, the lowest on ties.
  int32_t strongestBin() const;
  // Gradients of the pixels the level's interior features read; features in
  // a busy frame cover a minority of a level.
  void computeLevelGradients(int32_t width, int32_t height, const uint8_t* pixels,
                             const std::vector<HessianGradientFeaturePtr>& features);
  int32_t orientationBinFromGradients(int32_t width, int32_t x, int32_t y);
  void computeValuesFromGradients(int32_t width, int32_t x, int32_t y, int32_t bin, float* values);
  void cellSums(float* values) const;
};

}  // namespace vornik
