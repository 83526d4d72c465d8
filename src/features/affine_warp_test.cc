#include "features/affine_warp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace vornik {
namespace {

// The slow obvious form: bilinear in doubles at the clamped position.
double bilinearReference(const std::vector<uint8_t>& src, int w, int h, double sx, double sy) {
  sx = std::clamp(sx, 0.0, w - 1.0);
  sy = std::clamp(sy, 0.0, h - 1.0);
  const int x0 = static_cast<int>(std::floor(sx));
  const int y0 = static_cast<int>(std::floor(sy));
  const int x1 = std::min(x0 + 1, w - 1);
  const int y1 = std::min(y0 + 1, h - 1);
  const double fx = sx - x0;
  const double fy = sy - y0;
  auto at = [&](int x, int y) { return static_cast<double>(src[static_cast<size_t>(y * w + x)]); };
  return (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x1, y0)) +
         fy * ((1 - fx) * at(x0, y1) + fx * at(x1, y1));
}

// Identity and whole-pixel shifts copy pixels exactly; any map (squeezes,
// rotations, maps reaching far outside the source) stays within a grey
// level of the reference, its weights being 1/256 steps.
TEST(WarpAffineGray, MatchesBilinearReferenceAndClampsOutside) {
  std::mt19937 rng(11);
  const int w = 37, h = 23;
  std::vector<uint8_t> src(static_cast<size_t>(w * h));
  for (uint8_t& v : src) v = static_cast<uint8_t>(rng() & 255);
  const double a = 0.6;
  const double maps[][6] = {
      {1, 0, 0, 0, 1, 0},                                                // identity
      {1, 0, 3, 0, 1, -2},                                               // shift
      {1.6, 0, -10.8, 0, 1, 0},                                          // squeeze
      {std::cos(a), -std::sin(a), 9, std::sin(a), std::cos(a), -4},      // rotation
      {3, 0.5, -40, -0.4, 2.5, 30},                                      // far outside
  };
  for (size_t m = 0; m < std::size(maps); ++m) {
    const int ow = 41, oh = 19;
    std::vector<uint8_t> out(static_cast<size_t>(ow * oh), 0);
    warpAffineGray(src.data(), w, h, maps[m], ow, oh, out.data());
    for (int y = 0; y < oh; ++y) {
      for (int x = 0; x < ow; ++x) {
        const double* k = maps[m];
        const double ref =
            bilinearReference(src, w, h, k[0] * x + k[1] * y + k[2], k[3] * x + k[4] * y + k[5]);
        const double got = out[static_cast<size_t>(y * ow + x)];
        if (m < 2) {
          ASSERT_EQ(got, ref) << m << " at " << x << "," << y;
        } else {
          ASSERT_LE(std::fabs(got - ref), 1.0) << m << " at " << x << "," << y;
        }
      }
    }
  }
  // A map that is not finite samples the image's corner and reads nothing
  // outside it.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double bad[6] = {nan, 0, 0, 0, nan, 0};
  std::vector<uint8_t> out(4, 0);
  warpAffineGray(src.data(), w, h, bad, 2, 2, out.data());
  EXPECT_EQ(out[3], src[0]);
}

}  // namespace
}  // namespace vornik
