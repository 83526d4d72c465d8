// Speed of Recognizer::recognize on one 640 x 480 blue-green-red frame that
// shows the sample target on clutter, against databases of 1, 10 and 50
// targets: the sample target built by the builder plus targets of 400
// random keys each. Run with
//   recognize_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "builder/target_builder.h"
#include "common/image_io.h"
#include "common/synthetic_view.h"
#include "common/view_geometry.h"
#include "database/ardb_mngr.h"
#include "database/group_file_writer.h"
#include "manager/log.h"
#include "recognition/recognizer.h"

namespace vornik {

namespace fs = std::filesystem;

constexpr int kFillerKeys = 400;

namespace {

void quiet(const char*) {}

const BuiltTarget& sampleTarget() {
  static const BuiltTarget target = [] {
    BuiltTarget built;
    Image image;
    std::string error;
    TargetSpec spec;
    spec.targetName = "sample";
    spec.displayName = "sample";
    BuildOptions options;
    options.trainingViews = 16;
    if (!readImage(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg", &image, &error) ||
        !buildTarget(spec, image, options, &built, &error)) {
      std::fprintf(stderr, "sample target: %s\n", error.c_str());
    }
    return built;
  }();
  return target;
}

const Image& cameraFrame() {
  static const Image frame = [] {
    Image target;
    std::string error;
    readImage(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg", &target, &error);
    const Image clutter = makeClutter(640, 480, 5);
    ViewOptions look;
    look.background = &clutter;
    look.noiseSigma = 1.5;
    ViewParams view;
    view.tiltDeg = 10.0;
    view.tiltDirectionDeg = 30.0;
    view.widthFraction = 0.6;
    RenderedView rendered;
    renderView(target, poseFromView(view, look.camera), look, &rendered, &error);
    return rendered.frame;
  }();
  return frame;
}

}  // namespace

// The sample target and count - 1 targets of random descriptors.
std::shared_ptr<ArdbMngr> database(int count) {
  static std::map<int, std::shared_ptr<ArdbMngr>> cache;
  auto& slot = cache[count];
  if (slot) return slot;
  const fs::path dir = fs::temp_directory_path() / ("recognize_bench_" + std::to_string(count));
  fs::create_directories(dir);
  GroupFileWriter writer;
  writer.addEntry("sample.dat", sampleTarget().descriptorEntry);
  std::mt19937 rng(static_cast<uint32_t>(count));
  for (int t = 1; t < count; ++t) {
    std::vector<HessianGradientFeaturePtr> features;
    for (int k = 0; k < kFillerKeys; ++k) {
      auto f = std::make_shared<HessianGradientFeature>();
      f->polarity = static_cast<uint8_t>(rng() & 1);
      f->x = static_cast<int32_t>(rng() % 600);
      f->y = static_cast<int32_t>(rng() % 400);
      for (uint8_t& b : f->descriptor) b = static_cast<uint8_t>(rng());
      features.push_back(f);
    }
    std::vector<uint8_t> entry;
    encodeDescriptorEntry(1.0f, features, entry);
    writer.addEntry("filler" + std::to_string(t) + ".dat", entry);
  }
  writer.writeFile((dir / "bench.db").string());
  slot = std::make_shared<ArdbMngr>();
  slot->setArdbAssetDirPath(dir.string());
  setLogCallback(&quiet);
  slot->loadTrackerData((dir / "app").string(), {"bench.db"});
  setLogCallback(nullptr);
  return slot;
}

namespace {

// Arguments: targets, FAST corners per frame (200: the default), vote disc
// (percent of the width, 0: off), near-key steps (0: off).
void BM_Recognize(benchmark::State& state) {
  Recognizer recognizer;
  recognizer.init(database(static_cast<int>(state.range(0))));
  RecognitionOptions options;
  options.cornerBudget = static_cast<int32_t>(state.range(1));
  options.voteDiscPercent = static_cast<int32_t>(state.range(2));
  options.nearKeySteps = static_cast<int32_t>(state.range(3));
  recognizer.setOptions(options);
  const Image& frame = cameraFrame();
  std::string result;
  int32_t status = 0;
  for (auto _ : state) {
    status = recognizer.recognize(frame.width, frame.height, 0, frame.pixels.data(), result, "");
    benchmark::DoNotOptimize(status);
  }
  state.counters["recognised"] = status == kRecognized ? 1 : 0;
}
BENCHMARK(BM_Recognize)
    ->Args({1, 200, 0, 0})
    ->Args({10, 200, 0, 0})
    ->Args({50, 200, 0, 0})
    ->Args({10, 800, 16, 0})
    ->Args({10, 800, 16, 5})
    ->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace vornik

// The databases are loaded before the benchmarks start, so the loader's
// timing lines come before the table.
int main(int argc, char** argv) {
  for (int count : {1, 10, 50}) vornik::database(count);
  vornik::cameraFrame();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
