#include "builder/recognition_features.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "builder/image_resample.h"
#include "features/corner_detection.h"
#include "features/descriptor_key.h"
#include "features/fast.h"
#include "features/frame.h"
#include "features/hessian_gradient_feature_mngr.h"

namespace vornik {

namespace {

// Smallest level side that leaves room for corners inside the border.
constexpr int32_t kMinLevelSide = 2 * kRecognitionBorder + 8;

void finishFeature(HessianGradientFeature* feature) {
  GradientDescriptor::quantizeDescriptor(feature);
  feature->descriptorKey = descriptorKey(feature->descriptor.data());
}

}  // namespace

double recognitionLevelScale(int32_t level) { return std::pow(2.0, level / 5.0); }

std::vector<RecognitionRecord> levelRecognitionFeatures(const Image& grayTarget, int perLevel,
                                                        GradientDescriptor* descriptor) {
  std::vector<RecognitionRecord> records;
  if (grayTarget.empty() || grayTarget.channels != 1 || perLevel <= 0) return records;
  std::vector<Corner> corners;
  std::vector<int32_t> scores;
  std::vector<ScoredCorner> kept;
  for (int32_t level = 0; level < kRecognitionLevelCount; ++level) {
    const double scale = recognitionLevelScale(level);
    const int w = static_cast<int>(std::lround(grayTarget.width / scale));
    const int h = static_cast<int>(std::lround(grayTarget.height / scale));
    if (w < kMinLevelSide || h < kMinLevelSide) break;
    const Image image = level == 0 ? grayTarget : resampleImage(grayTarget, w, h);
    const uint8_t* pixels = image.pixels.data();

    detectFast12(pixels, w, h, w, kRecognitionFastThreshold, &corners);
    scoreFast12(pixels, w, corners, kRecognitionFastThreshold, &scores);
    suppressNonMax(corners, scores, &kept);
    std::stable_sort(kept.begin(), kept.end(), [](const ScoredCorner& a, const ScoredCorner& b) {
      return a.score > b.score;
    });

    int32_t offsets[16];
    fastCircleOffsets(w, offsets);
    HessianGradientFeatureMngr manager(1);
    std::vector<int32_t> featureScores;
    for (const ScoredCorner& c : kept) {
      if (static_cast<int>(featureScores.size()) >= perLevel) break;
      if (c.x < kRecognitionBorder || c.x >= w - kRecognitionBorder || c.y < kRecognitionBorder ||
          c.y >= h - kRecognitionBorder || c.x > kMaxRecordCoordinate ||
          c.y > kMaxRecordCoordinate) {
        continue;
      }
      const uint8_t* p = pixels + static_cast<ptrdiff_t>(c.y) * w + c.x;
      int32_t sum = 0;
      for (int i = 0; i < 16; ++i) sum += p[offsets[i]] - p[0];
      auto feature = std::make_shared<HessianGradientFeature>();
      feature->scale = static_cast<float>(scale);
      feature->level = 0;
      feature->x = c.x;
      feature->y = c.y;
      feature->polarity = sum >= 0 ? 1 : 0;
      manager.addFeature(0, std::move(feature));
      featureScores.push_back(c.score);
    }
    descriptor->describeLevel(w, h, pixels, 0, &manager);
    const auto& described = manager.levelFeatures(0);
    for (size_t i = 0; i < described.size(); ++i) {
      HessianGradientFeature* f = described[i].get();
      finishFeature(f);
      RecognitionRecord r;
      r.level = level;
      r.polarity = f->polarity;
      r.x = f->x;
      r.y = f->y;
      r.descriptor = f->descriptor;
      r.key = f->descriptorKey;
      r.score = featureScores[i];
      records.push_back(r);
    }
  }
  return records;
}

std::vector<FrameRecognitionFeature> frameRecognitionFeatures(
    const uint8_t* gray, int32_t width, int32_t height, GradientDescriptor* descriptor,
    std::vector<OrientationVariant>* variants, int32_t cornerBudget) {
  std::vector<FrameRecognitionFeature> out;
  if (variants != nullptr) variants->clear();
  Frame frame;
  frame.buildPyramid(std::make_unique<GrayImage>(width, height, gray, false));
  const int32_t levels = frame.levelCount();
  if (levels <= 0) return out;
  HessianGradientFeatureMngr manager(levels);
  detectRecognitionCorners(frame, &manager, cornerBudget);
  for (int32_t i = 0; i < levels; ++i) {
    const GrayImage* level = frame.getLevel(i);
    descriptor->describeLevel(level->width, level->height, level->pixels.get(), i, &manager);
  }
  for (const HessianGradientFeaturePtr& f : manager.allFeatures()) {
    finishFeature(f.get());
    FrameRecognitionFeature o;
    o.level = f->level;
    o.scale = f->scale;
    o.x = f->x;
    o.y = f->y;
    o.polarity = f->polarity;
    o.descriptor = f->descriptor;
    o.key = f->descriptorKey;
    out.push_back(o);
    if (variants == nullptr) continue;
    const GrayImage* level = frame.getLevel(f->level);
    const int32_t bin =
        descriptor->orientationBin(level->width, level->height, level->pixels.get(), f->x, f->y);
    const std::array<double, kOrientationBins> histogram = descriptor->histogram();
    for (int32_t step : {-1, 1}) {
      const int32_t other = (bin + step + kOrientationBins) % kOrientationBins;
      if (!(histogram[other] >= kVariantPeakShare * histogram[bin])) continue;
      HessianGradientFeature variant;
      descriptor->computeValues(level->width, level->height, level->pixels.get(), f->x, f->y, other,
                                variant.descriptorValues.data());
      finishFeature(&variant);
      if (variant.descriptorKey == o.key) continue;
      OrientationVariant v;
      v.feature = out.size() - 1;
      v.descriptor = variant.descriptor;
      v.key = variant.descriptorKey;
      variants->push_back(v);
    }
  }
  return out;
}

}  // namespace vornik
