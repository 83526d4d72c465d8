// renderVideoBackground on Mesa's software renderer: frame hand-over, texture
// sub-image upload and the textured quad, finished with glFinish.
#include <benchmark/benchmark.h>

#include <vector>

#include "render/renderer_gl.h"
#include "render/testing/offscreen_gl_context.h"

namespace {

void BM_RenderVideoBackground(benchmark::State& state) {
  const int screenWidth = static_cast<int>(state.range(0));
  const int screenHeight = static_cast<int>(state.range(1));
  vornik::OffscreenGlContext context(screenWidth, screenHeight);
  if (!context.ready()) {
    state.SkipWithError("no OpenGL context could be created");
    return;
  }
  constexpr int kFrameWidth = 640;
  constexpr int kFrameHeight = 480;
  std::vector<uint8_t> frame(kFrameWidth * kFrameHeight * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
  vornik::RendererGL renderer;
  renderer.updateRendering(screenWidth, screenHeight);
  renderer.onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), kFrameWidth,
                          kFrameHeight, 0);
  for (auto _ : state) {
    renderer.renderVideoBackground();
    glFinish();
  }
}
BENCHMARK(BM_RenderVideoBackground)
    ->Args({640, 480})
    ->Args({1280, 720})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_GetVideoFrame(benchmark::State& state) {
  constexpr int kFrameWidth = 640;
  constexpr int kFrameHeight = 480;
  std::vector<uint8_t> frame(kFrameWidth * kFrameHeight * 3, 9);
  std::vector<uint8_t> out(frame.size());
  vornik::RendererGL renderer;
  renderer.onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), kFrameWidth,
                          kFrameHeight, 0);
  for (auto _ : state) {
    renderer.getVideoFrame(out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_GetVideoFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
