#include "tracking/window_sums.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vornik {
namespace {

// Every form against the plain loop on random windows at every alignment,
// and on the extremes where a 16-bit or pairwise sum could overflow.
TEST(WindowSumsTest, EveryFormGivesTheScalarSums) {
  std::mt19937 random(3);
  std::uniform_int_distribution<int> byte(0, 255);
  const int stride = 83;
  std::vector<uint8_t> image(stride * 40), templ(64);
  for (uint8_t& v : image) v = static_cast<uint8_t>(byte(random));
  for (uint8_t& v : templ) v = static_cast<uint8_t>(byte(random));
  std::vector<uint8_t> white(stride * 8, 255), whiteTemplate(64, 255);
  for (const auto& kernel : windowSumsKernels()) {
    for (int offset = 0; offset < 40; ++offset) {
      const uint8_t* window = image.data() + offset * 7 + (offset % 5) * stride;
      const WindowSums fast = kernel.run(window, stride, templ.data());
      const WindowSums slow = windowSumsScalar(window, stride, templ.data());
      EXPECT_EQ(fast.sumI, slow.sumI) << kernel.name << " " << offset;
      EXPECT_EQ(fast.sumII, slow.sumII) << kernel.name << " " << offset;
      EXPECT_EQ(fast.sumIT, slow.sumIT) << kernel.name << " " << offset;
    }
    const WindowSums full = kernel.run(white.data(), stride, whiteTemplate.data());
    EXPECT_EQ(full.sumI, 64 * 255) << kernel.name;
    EXPECT_EQ(full.sumII, 64 * 255 * 255) << kernel.name;
    EXPECT_EQ(full.sumIT, 64 * 255 * 255) << kernel.name;
  }
}

}  // namespace
}  // namespace vornik
