// Frame-to-frame tracking cost on rendered views of the sample target
// (640 x 480 grey frames). Run with --benchmark_repetitions=N to get medians.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "database/group_file_writer.h"
#include "features/corner_detection.h"
#include "features/feature_extractor.h"
#include "platform/threads.h"
#include "tracking/patch_search.h"
#include "tracking/progressive_tracking.h"
#include "tracking/se3.h"
#include "tracking/test_images.h"
#include "tracking/tracker.h"

namespace vornik {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kViews = 32;

Mat44f viewPose(int i) {
  const float s = static_cast<float>(i) / kViews;
  Matrix33F facing = Matrix33F::identity();
  facing(1, 1) = -1.0f;
  facing(2, 2) = -1.0f;
  return Mat44f::rigid(
      so3Exp(Vector3F(0.2f * std::sin(6.28f * s), 0.15f * std::cos(6.28f * s), 0.05f)) * facing,
      Vector3F(0.05f * std::sin(6.28f * s), 0.03f, 1.7f));
}

struct Scene {
  std::unique_ptr<GrayImage> target;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<Mat44f> poses;
};

const Scene& scene() {
  static Scene* s = [] {
    auto* scene = new Scene;
    scene->target =
        testing_images::loadGrayJpeg(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg");
    if (!scene->target) {
      std::fprintf(stderr, "cannot read the sample target\n");
      std::exit(1);
    }
    for (int i = 0; i < kViews; ++i) {
      scene->poses.push_back(viewPose(i));
      auto image =
          testing_images::renderPlane(*scene->target, scene->poses.back(), kWidth, kHeight);
      scene->frames.emplace_back(image->pixels.get(), image->pixels.get() + kWidth * kHeight);
    }
    return scene;
  }();
  return *s;
}

std::unique_ptr<Frame> frameOf(const std::vector<uint8_t>& pixels) {
  auto frame = std::make_unique<Frame>();
  frame->buildPyramid(std::make_unique<GrayImage>(kWidth, kHeight, pixels.data(), false));
  return frame;
}

std::unique_ptr<Keyframe> targetKeyframe() {
  auto keyframe = std::make_unique<Keyframe>();
  const GrayImage& t = *scene().target;
  keyframe->buildPyramid(std::make_unique<GrayImage>(t.width, t.height, t.pixels.get(), false));
  detectTrackingCorners(keyframe.get());
  keyframe->buildTrackPoints();
  return keyframe;
}

// The coarse search of the steady state: up to 35 points, radius 15, five
// sub-pixel iterations, on three threads or one.
void BM_CoarseSearch(benchmark::State& state) {
  const bool threaded = state.range(0) != 0;
  auto keyframe = targetKeyframe();
  auto frame = frameOf(scene().frames[1]);
  std::vector<TrackPoint*> coarse;
  for (auto _ : state) {
    prepareTrackPoints(*keyframe, *frame, scene().poses[0]);
    coarse.clear();
    for (TrackPoint& p : keyframe->trackPoints) {
      if (!p.inImage) continue;
      ++p.sourceLevel;
      ++p.searchLevel;
      coarse.push_back(&p);
      if (coarse.size() == 35) break;
    }
    const int found = threaded ? searchPointsInKeyframeThreaded(*keyframe, coarse, *frame, 15, 5)
                               : searchPointsInKeyframe(*keyframe, coarse, *frame, 15, 5);
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_CoarseSearch)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Pyramid of the new frame plus trackFromPreviousFrame, walking the views.
void BM_TrackFromPreviousFrame(benchmark::State& state) {
  auto keyframe = targetKeyframe();
  ProgressiveTracking tracking;
  auto previous = frameOf(scene().frames[0]);
  Mat44f pose = scene().poses[0];
  int i = 1;
  int failures = 0;
  for (auto _ : state) {
    auto frame = frameOf(scene().frames[i]);
    Mat44f next;
    float error = 0;
    if (!tracking.trackFromPreviousFrame(*keyframe, *previous, pose, *frame, pose, &next, &error)) {
      ++failures;
      next = scene().poses[i];
    }
    pose = next;
    previous = std::move(frame);
    i = (i + 1) % kViews;
  }
  state.counters["failures"] = failures;
}
BENCHMARK(BM_TrackFromPreviousFrame)->Unit(benchmark::kMillisecond);

// Tracker::track in the steady state, the figure the AR manager sees per
// frame: Arg 0 on blue-green-red camera pictures (grey conversion included),
// Arg 1 on grey ones. Stdout lines of the tracker are kept out.
void BM_TrackerTrack(benchmark::State& state) {
  const int32_t pixelFormat = static_cast<int32_t>(state.range(0));
  std::vector<std::vector<uint8_t>> frames = scene().frames;
  if (pixelFormat == 0) {
    for (std::vector<uint8_t>& f : frames) {
      std::vector<uint8_t> bgr(3 * f.size());
      for (size_t i = 0; i < f.size(); ++i) bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = f[i];
      f.swap(bgr);
    }
  }
  const std::string dir = "/tmp/vornik_tracking_bench_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const GrayImage& t = *scene().target;
  FeatureExtractor extractor(t.width, t.height, 1);
  std::vector<FeaturePtr> features = extractor.extract(t.pixels.get())->describe();
  for (FeaturePtr& f : features) {
    f->x -= t.width >> 1;
    f->y = (t.height >> 1) - f->y;
  }
  std::vector<uint8_t> trk, dat;
  encodeTrackingEntry(t.width, t.height, features, trk);
  encodeDescriptorEntry(1.0f, {}, dat);
  std::ifstream in(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg", std::ios::binary);
  std::vector<uint8_t> jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  GroupFileWriter writer;
  writer.addEntry("astro.dat", dat);
  writer.addEntry("astro.trk", trk);
  writer.addEntry("astro.jpg", jpeg);
  writer.addEntry("astro.json", std::string("{\"TrackableName\":\"Astronaut\"}"));
  writer.writeFile(dir + "/bench.db");
  auto database = std::make_shared<ArdbMngr>();
  database->setArdbAssetDirPath(dir);
  database->loadTrackerData(dir + "/appdata", {"bench.db"});

  Tracker tracker;
  tracker.init(kWidth, kHeight, pixelFormat, database);
  const std::string recognition = "{\"id\":\"astro\"}";
  std::fflush(stdout);
  const int savedStdout = dup(1);
  const int devNull = open("/dev/null", O_WRONLY);
  dup2(devNull, 1);
  Trackable result;
  int i = 0;
  int failures = 0;
  // Initial pose and the first keyframe-tracked frame happen before timing.
  tracker.track(frames[0].data(), result, "", recognition);
  tracker.track(frames[0].data(), result, "", recognition);
  for (auto _ : state) {
    i = (i + 1) % kViews;
    if (tracker.track(frames[i].data(), result, "", recognition) != kTrackOk) ++failures;
  }
  std::fflush(stdout);
  dup2(savedStdout, 1);
  close(savedStdout);
  close(devNull);
  state.counters["failures"] = failures;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TrackerTrack)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Grey conversion and pyramid alone on the rotating camera pictures; Arg 1
// adds the three short-lived worker threads a threaded search starts, to
// show what their creation and join cost per frame.
void BM_FramePyramid(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> frames = scene().frames;
  for (std::vector<uint8_t>& f : frames) {
    std::vector<uint8_t> bgr(3 * f.size());
    for (size_t i = 0; i < f.size(); ++i) bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = f[i];
    f.swap(bgr);
  }
  Frame frame;
  int i = 0;
  for (auto _ : state) {
    i = (i + 1) % kViews;
    frame.buildPyramid(frames[i].data(), kWidth, kHeight, true);
    benchmark::DoNotOptimize(frame.getLevel(3));
    if (state.range(0)) {
      ThreadHandle h[3];
      for (auto& t : h)
        createThread(
            &t, [](void*) -> void* { return nullptr; }, nullptr);
      for (auto& t : h) joinThread(t);
    }
  }
}
BENCHMARK(BM_FramePyramid)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vornik

BENCHMARK_MAIN();
