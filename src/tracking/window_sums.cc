#include "tracking/window_sums.h"

namespace vornik {

WindowSums windowSumsScalar(const uint8_t* window, int32_t stride, const uint8_t* templ) {
  WindowSums s;
  for (int32_t y = 0; y < 8; ++y) {
    const uint8_t* row = window + static_cast<intptr_t>(y) * stride;
    const uint8_t* t = templ + 8 * y;
    for (int32_t x = 0; x < 8; ++x) {
      const int32_t v = row[x];
      s.sumI += v;
      s.sumII += v * v;
      s.sumIT += v * t[x];
    }
  }
  return s;
}

std::vector<NamedKernel<WindowSumsKernel>> windowSumsKernels() {
  std::vector<NamedKernel<WindowSumsKernel>> kernels = {{"scalar", windowSumsScalar}};
#if defined(__SSE2__)
  kernels.push_back({"sse2", static_cast<WindowSumsKernel>(windowSumsSse2)});
#endif
#if VORNIK_WINDOW_SUMS_AVX2
  if (cpuHasAvx2()) kernels.push_back({"avx2", static_cast<WindowSumsKernel>(windowSumsAvx2)});
#endif
  return kernels;
}

}  // namespace vornik
