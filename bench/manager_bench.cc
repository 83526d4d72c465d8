// Cost of handing one camera frame to the AR manager on the capture thread
// (one copy under the frame lock, then a signal), and of a host reading the
// result snapshot.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "manager/ar_manager.h"

namespace {

void BM_OnPreviewFrame(benchmark::State& state) {
  const int32_t width = static_cast<int32_t>(state.range(0));
  const int32_t height = width * 3 / 4;
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3, 17);
  auto manager = vornik::ARManager::getInstance();
  for (auto _ : state) {
    manager->onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), width, height, 0);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_OnPreviewFrame)->Arg(640)->Arg(1280);

void BM_GetTrackingResult(benchmark::State& state) {
  auto manager = vornik::ARManager::getInstance();
  vornik::Trackable trackable;
  trackable.setId("poster");
  manager->setTrackingResult(trackable);
  for (auto _ : state) {
    benchmark::DoNotOptimize(manager->getTrackingResult().getCount());
  }
}
BENCHMARK(BM_GetTrackingResult);

}  // namespace

BENCHMARK_MAIN();
