// Latency from a frame's dispatch on the capture path to its pose being
// readable through getTrackingResult, in steady-state tracking of a rendered
// orbit around the sample photo. Frames are dispatched at the camera's pace
// (30 ms); only the wait for the pose is timed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "builder/mkdb_command.h"
#include "camera/plugin_camera.h"
#include "common/image_io.h"
#include "common/pose_sequence.h"
#include "common/synthetic_view.h"
#include "manager/ar_manager.h"
#include "manager/log.h"
#include "render/renderer_gl.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFrameCount = 120;
constexpr auto kPacing = std::chrono::milliseconds(30);

void silentLog(const char*) {}

bool samePose(const float* a, const float* b) {
  for (int i = 0; i < 16; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

void BM_DispatchToPose(benchmark::State& state) {
  vornik::setLogCallback(&silentLog);
  const fs::path dir = fs::temp_directory_path() / "vornik_latency_bench";
  fs::remove_all(dir);
  fs::create_directories(dir / "cache");
  const std::string group = (dir / "bench.grp").string();
  if (vornik::runMkdb({"-q", "-o", group, "--views", "8",
                       std::string(VORNIK_DATA_DIR) + "/sample_target.jpg=poster"},
                      stdout, stderr) != 0) {
    state.SkipWithError("database build failed");
    return;
  }
  vornik::Image target;
  std::string error;
  if (!vornik::readImage(VORNIK_DATA_DIR "/sample_target.jpg", &target, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<vornik::Image> frames;
  vornik::ViewOptions options;
  for (int i = 0; i < kFrameCount; ++i) {
    vornik::RenderedView view;
    const auto params = vornik::sequenceView(vornik::SequenceKind::kOrbit, i, kFrameCount);
    if (!vornik::renderView(target, vornik::poseFromView(params, options.camera), options, &view,
                            &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    frames.push_back(std::move(view.frame));
  }

  auto manager = vornik::ARManager::getInstance();
  manager->setAppDataDirPath((dir / "cache").string());
  manager->setArdbAssetDirPath(dir.string());
  manager->addTrackableGroup("bench.grp");
  manager->startTracker();
  vornik::PluginCamera camera;
  camera.addListener(vornik::RendererGL::getInstance().get());
  camera.addListener(manager.get());

  auto dispatch = [&](int index) {
    const vornik::Image& frame = frames[index % kFrameCount];
    camera.dispatchFrame(frame.pixels.data(), static_cast<int32_t>(frame.pixels.size()),
                         frame.width, frame.height, 0);
  };
  // Until the target is recognised and posed.
  int next = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (manager->getTrackingResult().getCount() == 0 && Clock::now() < deadline) {
    dispatch(next++);
    std::this_thread::sleep_for(kPacing);
  }
  vornik::ITrackingResult& first = manager->getTrackingResult();
  if (first.getCount() == 0) {
    manager->stopTracker();
    camera.removeAllListeners();
    state.SkipWithError("no pose within 10 s: recognition or tracking does not work yet");
    return;
  }
  float lastPose[16];
  std::copy_n(first.getTrackable(0).getPose(), 16, lastPose);
  int64_t lost = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    dispatch(next++);
    bool posed = false;
    while (Clock::now() - start < std::chrono::seconds(1)) {
      vornik::ITrackingResult& result = manager->getTrackingResult();
      if (result.getCount() > 0 && !samePose(result.getTrackable(0).getPose(), lastPose)) {
        std::copy_n(result.getTrackable(0).getPose(), 16, lastPose);
        posed = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const auto elapsed = Clock::now() - start;
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    if (!posed) ++lost;
    if (elapsed < kPacing) std::this_thread::sleep_for(kPacing - elapsed);
  }
  state.counters["lost"] = static_cast<double>(lost);
  manager->stopTracker();
  camera.removeAllListeners();
  vornik::setLogCallback(nullptr);
  fs::remove_all(dir);
}
BENCHMARK(BM_DispatchToPose)->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
