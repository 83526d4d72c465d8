// Feature extraction speed on one 640 x 480 blue-green-red camera-sized
// frame built from the sample photos. Run with
//   features_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "features/corner_detection.h"
#include "features/descriptor_key.h"
#include "features/enlarge.h"
#include "features/feature_extractor.h"
#include "features/frame.h"
#include "features/gradient_descriptor.h"
#include "features/hessian_descriptor.h"
#include "features/test_photos.h"

namespace vornik {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// Left 512 columns from one photo, the rest from another, both decoded with
// libjpeg.
const std::vector<uint8_t>& cameraFrame() {
  static const std::vector<uint8_t> frame = [] {
    const auto left = testing_photos::loadPhoto(testing_photos::photoPath("astronaut.jpg"));
    const auto right = testing_photos::loadPhoto(testing_photos::photoPath("coffee.jpg"));
    std::vector<uint8_t> bgr(kWidth * kHeight * 3, 128);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const auto& photo = x < 512 ? left : right;
        const int sx = x < 512 ? x : x - 512 + 100;
        if (photo.width == 0 || sx >= photo.width || y >= photo.height) continue;
        for (int c = 0; c < 3; ++c) {
          bgr[(y * kWidth + x) * 3 + c] = photo.bgr[(y * photo.width + sx) * 3 + c];
        }
      }
    }
    return bgr;
  }();
  return frame;
}

std::unique_ptr<Frame> pyramid() {
  auto frame = std::make_unique<Frame>();
  frame->buildPyramid(std::make_unique<GrayImage>(kWidth, kHeight, cameraFrame().data(), true));
  return frame;
}

void BM_GrayAndPyramid(benchmark::State& state) {
  const uint8_t* pixels = cameraFrame().data();
  for (auto _ : state) {
    Frame frame;
    frame.buildPyramid(std::make_unique<GrayImage>(kWidth, kHeight, pixels, true));
    benchmark::DoNotOptimize(frame.getLevel(3));
  }
}
BENCHMARK(BM_GrayAndPyramid)->Unit(benchmark::kMillisecond);

// The tracker's path: the same Frame rebuilt from each camera picture.
void BM_GrayAndPyramidReused(benchmark::State& state) {
  const uint8_t* pixels = cameraFrame().data();
  Frame frame;
  for (auto _ : state) {
    frame.buildPyramid(pixels, kWidth, kHeight, true);
    benchmark::DoNotOptimize(frame.getLevel(3));
  }
}
BENCHMARK(BM_GrayAndPyramidReused)->Unit(benchmark::kMillisecond);

void BM_RecognitionCorners(benchmark::State& state) {
  const auto frame = pyramid();
  size_t count = 0;
  for (auto _ : state) {
    HessianGradientFeatureMngr features(frame->levelCount());
    detectRecognitionCorners(*frame, &features);
    count = features.featureCount();
    benchmark::DoNotOptimize(count);
  }
  state.counters["features"] = static_cast<double>(count);
}
BENCHMARK(BM_RecognitionCorners)->Unit(benchmark::kMillisecond);

// Orientation, descriptor values, quantisation and key of the frame's
// recognition corners (199 for a 4-level pyramid: quotas 100 + 66 + 33).
void BM_GradientDescribe(benchmark::State& state) {
  const auto frame = pyramid();
  HessianGradientFeatureMngr features(frame->levelCount());
  detectRecognitionCorners(*frame, &features);
  GradientDescriptor descriptor;
  const auto all = features.allFeatures();
  for (auto _ : state) {
    for (int level = 0; level < frame->levelCount(); ++level) {
      const GrayImage* image = frame->getLevel(level);
      descriptor.describeLevel(image->width, image->height, image->pixels.get(), level, &features);
    }
    for (const auto& f : all) {
      GradientDescriptor::quantizeDescriptor(f.get());
      f->descriptorKey = descriptorKey(f->descriptor.data());
    }
    benchmark::DoNotOptimize(all.back()->descriptorKey);
  }
  state.counters["features"] = static_cast<double>(all.size());
}
BENCHMARK(BM_GradientDescribe)->Unit(benchmark::kMillisecond);

void BM_HessianExtract(benchmark::State& state) {
  FeatureExtractor extractor(kWidth, kHeight, 0);
  const uint8_t* pixels = cameraFrame().data();
  size_t count = 0;
  for (auto _ : state) {
    auto manager = extractor.extract(pixels);
    count = manager->featuresOfLayer(0).size() + manager->featuresOfLayer(1).size();
    benchmark::DoNotOptimize(manager);
  }
  state.counters["features"] = static_cast<double>(count);
}
BENCHMARK(BM_HessianExtract)->Unit(benchmark::kMillisecond);

// The opt-in enlarged retry's extra work before description: the frame
// doubled to 1280 x 960 and its Hessian features.
void BM_EnlargeDouble(benchmark::State& state) {
  const GrayImage gray(kWidth, kHeight, cameraFrame().data(), true);
  std::vector<uint8_t> enlarged(static_cast<size_t>(kWidth) * kHeight * 4);
  for (auto _ : state) {
    enlargeDouble(gray.pixels.get(), kWidth, kHeight, enlarged.data());
    benchmark::DoNotOptimize(enlarged.data());
  }
}
BENCHMARK(BM_EnlargeDouble)->Unit(benchmark::kMillisecond);

void BM_HessianExtractEnlarged(benchmark::State& state) {
  const GrayImage gray(kWidth, kHeight, cameraFrame().data(), true);
  std::vector<uint8_t> enlarged(static_cast<size_t>(kWidth) * kHeight * 4);
  enlargeDouble(gray.pixels.get(), kWidth, kHeight, enlarged.data());
  FeatureExtractor extractor(2 * kWidth, 2 * kHeight, 1);
  size_t count = 0;
  for (auto _ : state) {
    auto manager = extractor.extract(enlarged.data());
    count = manager->featuresOfLayer(0).size() + manager->featuresOfLayer(1).size();
    benchmark::DoNotOptimize(manager);
  }
  state.counters["features"] = static_cast<double>(count);
}
BENCHMARK(BM_HessianExtractEnlarged)->Unit(benchmark::kMillisecond);

// Orientation and descriptor of the 120 features describe() handles.
void BM_HessianDescribe(benchmark::State& state) {
  FeatureExtractor extractor(kWidth, kHeight, 0);
  auto manager = extractor.extract(cameraFrame().data());
  std::vector<FeaturePtr> chosen;
  for (int li = 0; li < manager->layerCount(); ++li) {
    const auto& list = manager->featuresOfLayer(li);
    for (size_t i = 0; i < list.size() && i < 60; ++i) chosen.push_back(list[i]);
  }
  ResponseAndAngle work;
  for (auto _ : state) {
    for (const auto& f : chosen) describeFeature(*manager->integralImage(), f.get(), &work);
    benchmark::DoNotOptimize(chosen.back()->descriptor.get());
  }
  state.counters["features"] = static_cast<double>(chosen.size());
}
BENCHMARK(BM_HessianDescribe)->Unit(benchmark::kMillisecond);

void BM_TrackingCorners(benchmark::State& state) {
  auto frame = pyramid();
  for (auto _ : state) {
    detectTrackingCorners(frame.get());
    benchmark::DoNotOptimize(frame->corners.data());
  }
  state.counters["corners"] = static_cast<double>(frame->corners.size());
}
BENCHMARK(BM_TrackingCorners)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vornik

BENCHMARK_MAIN();
