#include "features/descriptor_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "features/feature_mngr.h"
#include "features/gradient_descriptor.h"
#include "features/hessian_descriptor.h"
#include "features/hessian_gradient_feature_mngr.h"
#include "features/integral_image.h"

namespace vornik {
namespace {

template <typename T>
bool withinOneUlp(T pinned, T computed) {
  return pinned == computed || std::nextafter(pinned, computed) == computed;
}

// cos, sin and exp need not be correctly rounded, so another libm may land
// one ulp away from the value the databases were built with (on this one they
// agree exactly): the tables must be within 1 ulp of the libm values.
TEST(DescriptorTablesTest, PinnedValuesAgreeWithLibm) {
  const double pi = 3.1415927410125732;
  const double twoPi = 6.2831854820251465;
  for (int b = 0; b < 36; ++b) {
    const double theta = pi - (static_cast<double>(b) / 36.0) * twoPi;
    EXPECT_TRUE(withinOneUlp(kBinCosSin[b][0], std::cos(theta))) << b;
    EXPECT_TRUE(withinOneUlp(kBinCosSin[b][1], std::sin(theta))) << b;
  }
  for (int r2 = 0; r2 < 36; ++r2) {
    bool sampled = false;
    for (int dx = -5; dx <= 5; ++dx) {
      for (int dy = -5; dy <= 5; ++dy) sampled = sampled || dx * dx + dy * dy == r2;
    }
    const float weight = sampled ? std::exp(-static_cast<float>(r2) / 18.0f) * 0.017683882f : 0.0f;
    EXPECT_TRUE(withinOneUlp(kOrientationWeightBySquaredDistance[r2], weight)) << r2;
  }
  for (int ii = 0; ii < 4; ++ii) {
    for (int jj = 0; jj < 4; ++jj) {
      const float dx = 0.5f + ii - 2.0f;
      const float dy = 0.5f + jj - 2.0f;
      const float weight = std::exp(-(dx * dx + dy * dy) / 4.5f) * 0.07073553f;
      EXPECT_TRUE(withinOneUlp(kSubRegionWeights[ii][jj], weight)) << ii << "," << jj;
    }
  }
}

// What the tracking thread computes, on a fixed texture: a Hessian descriptor
// at both wavelet scales and a gradient orientation and descriptor.
struct Described {
  std::array<std::array<uint8_t, 64>, 2> hessian;
  int32_t bin;
  std::array<float, 64> gradient;
  bool emptyListsEmpty;
};

constexpr int kSide = 96;

void describeTexture(Described* out) {
  std::vector<uint8_t> pixels(kSide * kSide);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x)
      pixels[y * kSide + x] = static_cast<uint8_t>(x * x * 7 + y * 13 + x * y * 3);
  }
  IntegralImage integral(kSide, kSide);
  integral.compute(pixels.data(), false);
  ResponseAndAngle work;
  const float scales[2] = {2.8f, 6.0f};
  for (int i = 0; i < 2; ++i) {
    Feature feature;
    feature.x = kSide / 2;
    feature.y = kSide / 2;
    feature.scale = scales[i];
    describeFeature(integral, &feature, &work);
    std::copy(feature.descriptor.get(), feature.descriptor.get() + 64, out->hessian[i].begin());
  }
  GradientDescriptor descriptor;
  out->bin = descriptor.orientationBin(kSide, kSide, pixels.data(), kSide / 2, kSide / 2);
  descriptor.computeValues(kSide, kSide, pixels.data(), kSide / 2, kSide / 2, out->bin,
                           out->gradient.data());
  out->emptyListsEmpty = FeatureMngr(1, nullptr).featuresOfLayer(-1).empty() &&
                         HessianGradientFeatureMngr(1).levelFeatures(-1).empty();
}

Described describedBeforeExit;

void describeAgainAtExit() {
  Described again;
  describeTexture(&again);
  const bool same = again.hessian == describedBeforeExit.hessian &&
                    again.bin == describedBeforeExit.bin &&
                    again.gradient == describedBeforeExit.gradient && again.emptyListsEmpty;
  if (!same) std::_Exit(3);
}

TEST(DescriptorTablesTest, DescriptorsStillWorkInAnExitHandler) {
  // An exit handler registered before the first description runs after every
  // static object built by that description has been destroyed, as a
  // tracking thread still running at process exit would. A fresh process, so
  // that no earlier test has built them already.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atexit(describeAgainAtExit);
        describeTexture(&describedBeforeExit);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vornik
