#include "features/vote_region.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vornik {
namespace {

struct Layout {
  const char* name;
  std::vector<float> xs;
  std::vector<float> ys;
  float radius;
  int32_t count;
  float centreX;  // where the counted disc must lie, within `radius`
  float centreY;
};

// Strays 200 px apart over a 640 x 480 frame, the way a busy background
// spreads its votes, with a tight group of a target's corners among them.
Layout withStrays(const char* name, std::vector<float> xs, std::vector<float> ys, int32_t count,
                  float cx, float cy) {
  for (float x = 20.0f; x < 640.0f; x += 200.0f) {
    for (float y = 20.0f; y < 480.0f; y += 200.0f) {
      xs.push_back(x);
      ys.push_back(y);
    }
  }
  return {name, xs, ys, 100.0f, count, cx, cy};
}

TEST(DensestDisc, CountsTheTightestGroupAndNotTheStrays) {
  const Layout layouts[] = {
      {"nothing", {}, {}, 50.0f, 0, -1.0f, -1.0f},
      {"one point", {7.0f}, {9.0f}, 50.0f, 1, 7.0f, 9.0f},
      // On the rim counts: the radius is inclusive.
      {"on the rim", {0.0f, 30.0f, 0.0f}, {0.0f, 0.0f, 40.0f}, 30.0f, 2, 0.0f, 0.0f},
      withStrays("group among strays", {300.0f, 320.0f, 340.0f, 310.0f, 330.0f},
                 {330.0f, 340.0f, 320.0f, 310.0f, 355.0f}, 5, 320.0f, 330.0f),
      withStrays("larger of two groups", {90.0f, 100.0f, 110.0f, 500.0f, 510.0f, 520.0f, 505.0f},
                 {300.0f, 310.0f, 320.0f, 100.0f, 110.0f, 120.0f, 90.0f}, 4, 510.0f, 105.0f),
      // Strays alone: no disc of 100 px holds two of them.
      withStrays("strays alone", {}, {}, 1, -1.0f, -1.0f),
  };
  for (const Layout& layout : layouts) {
    float cx = -1.0f;
    float cy = -1.0f;
    const int32_t count =
        densestDisc(layout.xs.data(), layout.ys.data(), layout.xs.size(), layout.radius, &cx, &cy);
    EXPECT_EQ(count, layout.count) << layout.name;
    if (layout.centreX >= 0.0f) {
      EXPECT_LE(std::hypot(cx - layout.centreX, cy - layout.centreY), layout.radius) << layout.name;
    }
  }
}

}  // namespace
}  // namespace vornik
