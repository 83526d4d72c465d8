// Speed of the target database builder: one 1024-pixel-wide target with and
// without stability training, and a batch of 20 targets written as one
// group file (crops and variants of the bundled photos).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "builder/database_builder.h"
#include "builder/image_resample.h"

namespace vornik {
namespace {

const char* const kPhotos[] = {"astronaut", "brick",  "camera", "chelsea", "coffee", "grass",
                               "gravel",    "hubble", "retina", "rocket",  "text"};

Image photo(const std::string& name) {
  Image image;
  std::string error;
  if (!readImage(std::string(VORNIK_DATA_DIR) + "/photos/" + name + ".jpg", &image, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  return image;
}

Image crop(const Image& src, int x0, int y0, int w, int h) {
  Image out(w, h, src.channels);
  for (int y = 0; y < h; ++y) {
    std::copy(src.row(y0 + y) + x0 * src.channels, src.row(y0 + y) + (x0 + w) * src.channels,
              out.row(y));
  }
  return out;
}

// A 1024 x 768 target: the photo enlarged, as a scan or a print master
// would be.
Image wideTarget(const std::string& name) { return resampleImage(photo(name), 1024, 768); }

void BM_BuildTarget1024(benchmark::State& state) {
  const Image image = wideTarget("astronaut");
  BuildOptions options;
  options.trainingViews = static_cast<int>(state.range(0));
  TargetSpec spec;
  spec.targetName = spec.displayName = "astronaut";
  BuiltTarget built;
  std::string error;
  for (auto _ : state) {
    if (!buildTarget(spec, image, options, &built, &error)) state.SkipWithError(error.c_str());
  }
  state.counters["recognition_records"] = built.stats.recognitionRecords;
  state.counters["tracking_records"] = built.stats.trackingRecords;
  state.counters["entries_bytes"] =
      static_cast<double>(built.descriptorEntry.size() + built.trackingEntry.size() +
                          built.imageEntry.size() + built.infoEntry.size());
}
BENCHMARK(BM_BuildTarget1024)->Arg(160)->Arg(48)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

// 20 image files: the 11 photos, their left and right halves for 9 more.
std::vector<TargetSpec> writeBatch(const std::string& dir) {
  std::filesystem::create_directories(dir);
  std::vector<TargetSpec> specs;
  auto add = [&](const std::string& name, const Image& image) {
    TargetSpec spec;
    spec.imagePath = dir + "/" + name + ".jpg";
    spec.targetName = spec.displayName = name;
    std::string error;
    writeJpeg(spec.imagePath, image, 92, &error);
    specs.push_back(spec);
  };
  for (const char* name : kPhotos) add(name, photo(name));
  for (int i = 0; i < 9; ++i) {
    const Image p = photo(kPhotos[i]);
    const int half = p.width / 2;
    add(std::string(kPhotos[i]) + (i % 2 ? "_left" : "_right"),
        crop(p, i % 2 ? 0 : p.width - half, 0, half, p.height));
  }
  return specs;
}

void BM_BuildBatch20(benchmark::State& state) {
  const std::string dir = (std::filesystem::temp_directory_path() / "vornik_mkdb_bench").string();
  const std::vector<TargetSpec> specs = writeBatch(dir);
  BuildOptions options;
  std::vector<BuiltTarget> built;
  std::string error;
  for (auto _ : state) {
    if (!buildDatabase(specs, options, dir + "/batch.db", nullptr, &built, &error)) {
      state.SkipWithError(error.c_str());
    }
  }
  state.counters["group_file_bytes"] =
      static_cast<double>(std::filesystem::file_size(dir + "/batch.db"));
  double recognition = 0, tracking = 0;
  for (const BuiltTarget& t : built) {
    recognition += t.stats.recognitionRecords;
    tracking += t.stats.trackingRecords;
  }
  state.counters["recognition_records_per_target"] = recognition / built.size();
  state.counters["tracking_records_per_target"] = tracking / built.size();
}
BENCHMARK(BM_BuildBatch20)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace vornik

BENCHMARK_MAIN();
