// What the capture thread spends per frame besides the pacing sleep: the
// dispatch of one 640 x 480 frame to the renderer and the AR manager, each of
// which copies it under its own lock.
#include <benchmark/benchmark.h>

#include <vector>

#include "camera/camera_sequence.h"
#include "camera/plugin_camera.h"
#include "manager/ar_manager.h"
#include "manager/log.h"
#include "render/renderer_gl.h"

namespace {

void silentLog(const char*) {}

void BM_DispatchFrameToRendererAndManager(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  vornik::setLogCallback(&silentLog);
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 31);
  vornik::PluginCamera camera;
  camera.addListener(vornik::RendererGL::getInstance().get());
  camera.addListener(vornik::ARManager::getInstance().get());
  for (auto _ : state) {
    camera.dispatchFrame(frame.data(), static_cast<int32_t>(frame.size()), width, height, 0);
    benchmark::ClobberMemory();
  }
  camera.removeAllListeners();
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
  vornik::setLogCallback(nullptr);
}
BENCHMARK(BM_DispatchFrameToRendererAndManager)
    ->Args({640, 480})
    ->Args({1280, 720})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
