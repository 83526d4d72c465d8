// Initial pose speed on a 640 x 480 frame showing the sample target: Hessian
// extraction, description, mutual matching against 1,500 stored target
// features, RANSAC homography and decomposition. Run with
//   initial_pose_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "features/feature_extractor.h"
#include "features/hessian_descriptor.h"
#include "features/test_photos.h"
#include "tracking/feature_matching.h"
#include "tracking/homography.h"
#include "tracking/initial_pose.h"
#include "tracking/initial_pose_test_util.h"

namespace vornik {
namespace {

using test_scene::kCamH;
using test_scene::kCamW;

constexpr size_t kTargetFeatureCount = 1500;

struct Scene {
  int32_t targetWidth = 0;
  std::vector<FeaturePtr> target;  // centred, y up, like stored features
  std::vector<uint8_t> frameBgr;
  size_t realTargetFeatures = 0;
};

// Target features: every Hessian feature of the sample target, described;
// topped up to 1,500 with random descriptors (which never match) so that
// matching runs at the size of a large stored target.
const Scene& scene() {
  static const Scene s = [] {
    Scene sc;
    const auto photo =
        testing_photos::loadPhoto(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg");
    const int32_t w = photo.width, h = photo.height;
    sc.targetWidth = w;
    if (w > 0) {
      FeatureExtractor extractor(w, h, 1);
      auto manager = extractor.extract(photo.gray.data());
      ResponseAndAngle work;
      for (int layer = 0; layer < manager->layerCount(); ++layer) {
        for (const FeaturePtr& f : manager->featuresOfLayer(layer)) {
          if (sc.target.size() >= kTargetFeatureCount) break;
          describeFeature(*manager->integralImage(), f.get(), &work);
          f->x -= w / 2;
          f->y = h / 2 - f->y;
          sc.target.push_back(f);
        }
      }
      sc.realTargetFeatures = sc.target.size();
      const auto truth = test_scene::makePose(3.0f, 0.25f, 0.1f, 0.02, -0.04, 1.4);
      const std::vector<uint8_t> gray = test_scene::renderFrame(photo.gray, w, h, truth);
      sc.frameBgr.resize(gray.size() * 3);
      for (size_t i = 0; i < gray.size(); ++i) {
        sc.frameBgr[3 * i] = sc.frameBgr[3 * i + 1] = sc.frameBgr[3 * i + 2] = gray[i];
      }
    }
    Random rng(99);
    while (sc.target.size() < kTargetFeatureCount) {
      auto f = std::make_shared<Feature>();
      f->x = static_cast<int32_t>(rng.uniform(512)) - 256;
      f->y = static_cast<int32_t>(rng.uniform(512)) - 256;
      f->polarity = static_cast<uint8_t>(rng.uniform(2));
      f->descriptor.reset(new uint8_t[kDescriptorBytes]);
      for (int k = 0; k < kDescriptorBytes; ++k)
        f->descriptor[k] = static_cast<uint8_t>(rng.uniform(256));
      sc.target.push_back(f);
    }
    return sc;
  }();
  return s;
}

std::vector<FeaturePtr> frameFeatures(FeatureExtractor& extractor) {
  auto manager = extractor.extract(scene().frameBgr.data());
  return manager ? manager->describe() : std::vector<FeaturePtr>{};
}

// The whole initial pose as the tracker runs it on a new target.
void BM_InitialPoseFull(benchmark::State& state) {
  const Scene& sc = scene();
  FeatureExtractor extractor(kCamW, kCamH, 0);
  int32_t code = -1;
  for (auto _ : state) {
    const std::vector<FeaturePtr> described = frameFeatures(extractor);
    Random rng;
    MatrixPtr pose;
    code = estimateInitialPose(sc.target, sc.targetWidth, described, kCamW, kCamH, rng, &pose);
    benchmark::DoNotOptimize(pose);
  }
  state.counters["code"] = code;
  state.counters["target_features"] = static_cast<double>(sc.target.size());
  state.counters["real_target_features"] = static_cast<double>(sc.realTargetFeatures);
}
BENCHMARK(BM_InitialPoseFull)->Unit(benchmark::kMillisecond);

void BM_ExtractDescribe(benchmark::State& state) {
  FeatureExtractor extractor(kCamW, kCamH, 0);
  size_t count = 0;
  for (auto _ : state) {
    const auto described = frameFeatures(extractor);
    count = described.size();
    benchmark::DoNotOptimize(described.data());
  }
  state.counters["frame_features"] = static_cast<double>(count);
}
BENCHMARK(BM_ExtractDescribe)->Unit(benchmark::kMillisecond);

void BM_MatchMutual(benchmark::State& state) {
  const Scene& sc = scene();
  FeatureExtractor extractor(kCamW, kCamH, 0);
  const auto described = frameFeatures(extractor);
  size_t pairs = 0;
  for (auto _ : state) {
    const auto matched = matchFeaturesMutual(sc.target, described);
    pairs = matched.size() / 2;
    benchmark::DoNotOptimize(matched.data());
  }
  state.counters["pairs"] = static_cast<double>(pairs);
  state.counters["frame_features"] = static_cast<double>(described.size());
}
BENCHMARK(BM_MatchMutual)->Unit(benchmark::kMillisecond);

void BM_RansacAndDecomposition(benchmark::State& state) {
  const Scene& sc = scene();
  FeatureExtractor extractor(kCamW, kCamH, 0);
  const auto described = frameFeatures(extractor);
  const auto matched = matchFeaturesMutual(sc.target, described);
  NormalizationParams params;
  const double scale = std::sqrt(2.0);
  const auto normalized = normalizePairs(matched, scale, &params);
  bool found = false;
  for (auto _ : state) {
    Random rng;
    MatrixPtr h =
        ransacHomography(normalized, kRansacSampleSize, kRansacMinInliers, kRansacThreshold, rng);
    found = h != nullptr;
    if (h) {
      MatrixPtr g = denormalizeHomography(*h, params, scale);
      benchmark::DoNotOptimize(decomposeHomography(kCamW, kCamH, *g));
    }
  }
  state.counters["pairs"] = static_cast<double>(normalized.size());
  state.counters["found"] = found ? 1 : 0;
}
BENCHMARK(BM_RansacAndDecomposition)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vornik

BENCHMARK_MAIN();
