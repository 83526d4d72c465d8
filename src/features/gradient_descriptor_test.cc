#include "features/gradient_descriptor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "features/descriptor_key.h"
#include "features/descriptor_tables.h"
#include "features/test_photos.h"

namespace vornik {
namespace {

constexpr double kPiF = 3.1415927410125732;
constexpr double kTwoPiF = 6.2831854820251465;

struct Image {
  int w;
  int h;
  std::vector<uint8_t> p;
  // Border pixels repeat, as the descriptor does for features near an edge.
  int at(int x, int y) const {
    x = std::min(std::max(x, 0), w - 1);
    y = std::min(std::max(y, 0), h - 1);
    return p[y * w + x];
  }
};

// The kernel written out cell by cell: rows v-1, v+1 weighted
// [-1 -2 0 2 1], row v [-2 -4 0 4 2]; gy the transpose.
void slowGradient(const Image& im, int u, int v, int* gx, int* gy) {
  const int wOuter[5] = {-1, -2, 0, 2, 1};
  const int wInner[5] = {-2, -4, 0, 4, 2};
  int sx = 0, sy = 0;
  for (int k = -2; k <= 2; ++k) {
    sx += wOuter[k + 2] * (im.at(u + k, v - 1) + im.at(u + k, v + 1)) +
          wInner[k + 2] * im.at(u + k, v);
    sy += wOuter[k + 2] * (im.at(u - 1, v + k) + im.at(u + 1, v + k)) +
          wInner[k + 2] * im.at(u, v + k);
  }
  *gx = sx;
  *gy = sy;
}

int atan2Bin(int gx, int gy) {
  const double angle = std::atan2(static_cast<double>(gy), static_cast<double>(gx));
  return static_cast<int>(((kPiF - angle) / kTwoPiF) * 36);
}

// Samples in row order, as the descriptor adds them to the histogram: the
// sums must agree to the last bit, since an exact tie decides the bin.
int slowOrientation(const Image& im, int x, int y, std::array<double, 36>* histogram) {
  histogram->fill(0.0);
  for (int dy = -5; dy <= 5; ++dy) {
    for (int dx = -5; dx <= 5; ++dx) {
      const int r2 = dx * dx + dy * dy;
      if (r2 >= 36) continue;
      int gx, gy;
      slowGradient(im, x + dx, y + dy, &gx, &gy);
      const float weight = kOrientationWeightBySquaredDistance[r2];
      const double magnitude =
          std::sqrt(static_cast<double>(gx) * gx + static_cast<double>(gy) * gy);
      (*histogram)[atan2Bin(gx, gy)] += weight * magnitude;
    }
  }
  int best = 0;
  for (int b = 1; b < 36; ++b)
    if ((*histogram)[b] > (*histogram)[best]) best = b;
  return best;
}

int nearestInt(double v) { return v > 0 ? static_cast<int>(v + 0.5) : static_cast<int>(v - 0.5); }

std::array<float, 64> slowValues(const Image& im, int x, int y, int bin) {
  std::array<float, 64> values;
  const double co = kBinCosSin[bin][0], si = kBinCosSin[bin][1];
  const int origins[4] = {-10, -5, 0, 5};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      double sa = 0, saa = 0, sb = 0, sbb = 0;
      for (int i = origins[r]; i < origins[r] + 6; ++i) {
        for (int j = origins[c]; j < origins[c] + 6; ++j) {
          const int px = x + nearestInt(j * co - i * si);
          const int py = y + nearestInt(j * si + i * co);
          int gx, gy;
          slowGradient(im, px, py, &gx, &gy);
          const double a = gx * co + gy * si;
          const double b = gy * co - gx * si;
          sa += a;
          saa += std::fabs(a);
          sb += b;
          sbb += std::fabs(b);
        }
      }
      int m = 4 * (4 * r + c);
      for (double v : {sa, saa, sb, sbb}) values[m++] = static_cast<float>(v);
    }
  }
  return values;
}

template <typename F>
Image patch(F value) {
  Image im{40, 40, std::vector<uint8_t>(1600)};
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) im.p[y * 40 + x] = static_cast<uint8_t>(value(x - 20, y - 20));
  return im;
}

TEST(GradientOrientationTest, PureDirectionsTiesAndFlatPatches) {
  GradientDescriptor descriptor;
  // Straight up lands just below bin 27: the single-precision pi constants
  // put -pi/2 at 26.9999997 bins.
  const int cases[][3] = {{-3, 0, 0}, {3, 0, 18}, {0, 3, 9}, {0, -3, 26}, {0, 0, 0}};
  for (const auto& c : cases) {
    const Image im = patch([&](int x, int y) { return 100 + c[0] * x + c[1] * y; });
    EXPECT_EQ(descriptor.orientationBin(40, 40, im.p.data(), 20, 20), c[2]) << c[0] << "," << c[1];
  }
  // A vertical ridge: mirrored samples have equal and opposite gx, so bins 0
  // and 18 collect exactly the same weight and the lower one wins.
  const Image ridge = patch([](int x, int) { return 200 - 6 * std::abs(x); });
  EXPECT_EQ(descriptor.orientationBin(40, 40, ridge.p.data(), 20, 20), 0);
  EXPECT_GT(descriptor.histogram()[18], 0.0);
  EXPECT_EQ(descriptor.histogram()[0], descriptor.histogram()[18]);
}

TEST(GradientDescriptorTest, LevelAndPerFeaturePathsMatchDirectFormula) {
  // describeLevel runs the kernel eight pixels at a time, then one by one to
  // the row end: the photo and a crop 101 wide cover both. Features near a
  // border take the per-feature path, also checked on its own.
  const auto photo = testing_photos::loadPhoto(testing_photos::photoPath("chelsea.jpg"));
  ASSERT_GT(photo.width, 120);
  const std::vector<Image> images = {
      Image{photo.width, photo.height, photo.gray},
      Image{101, photo.height, testing_photos::grayCrop(photo, 7, 0, 101, photo.height)}};
  GradientDescriptor descriptor;
  std::mt19937 rng(5);
  for (const Image& im : images) {
    HessianGradientFeatureMngr features(2);
    auto add = [&](int x, int y) {
      auto f = std::make_shared<HessianGradientFeature>();
      f->x = x;
      f->y = y;
      features.addFeature(1, f);
    };
    const int border[][2] = {
        {0, 0},         {3, 50},  {im.w - 1, im.h - 1},  {im.w - 10, 20}, {40, im.h - 2},
        {im.w - 3, 40}, {16, 16}, {im.w - 17, im.h - 17}};
    for (const auto& pt : border) add(pt[0], pt[1]);
    for (int n = 0; n < 60; ++n)
      add(16 + static_cast<int>(rng() % (im.w - 32)), 16 + static_cast<int>(rng() % (im.h - 32)));
    descriptor.describeLevel(im.w, im.h, im.p.data(), 1, &features);
    std::array<double, 36> histogram;
    for (const auto& f : features.featuresOfLevel(1)) {
      SCOPED_TRACE(testing::Message() << f->x << "," << f->y);
      const int bin = slowOrientation(im, f->x, f->y, &histogram);
      ASSERT_EQ(f->orientationBin, bin);
      ASSERT_EQ(f->descriptorValues, slowValues(im, f->x, f->y, bin));
      ASSERT_EQ(descriptor.orientationBin(im.w, im.h, im.p.data(), f->x, f->y), bin);
      ASSERT_EQ(descriptor.histogram(), histogram);
      std::array<float, 64> values;
      descriptor.computeValues(im.w, im.h, im.p.data(), f->x, f->y, (bin + 7) % 36, values.data());
      ASSERT_EQ(values, slowValues(im, f->x, f->y, (bin + 7) % 36));
    }
  }
}

TEST(GradientDescriptorTest, EveryGradientRowFormMatchesTheKernel) {
  // Spans of every length up to 40 from varied starts, so each form's
  // vector blocks and tails all meet the kernel written out cell by cell.
  const auto photo = testing_photos::loadPhoto(testing_photos::photoPath("chelsea.jpg"));
  ASSERT_GT(photo.width, 120);
  const Image im{photo.width, photo.height, photo.gray};
  std::vector<int16_t> g(2 * static_cast<size_t>(im.w));
  for (const auto& form : gradientRows()) {
    for (int length = 0; length <= 40; ++length) {
      const int y = 2 + (length * 37) % (im.h - 4);
      const int begin = 2 + (length * 13) % (im.w - 4 - length);
      std::fill(g.begin(), g.end(), int16_t{-1});
      form.run(im.p.data() + y * im.w, im.w, begin, begin + length, g.data());
      for (int x = 0; x < im.w; ++x) {
        int gx = -1, gy = -1;
        if (x >= begin && x < begin + length) slowGradient(im, x, y, &gx, &gy);
        ASSERT_EQ(g[2 * x], gx) << form.name << " " << x << "," << y;
        ASSERT_EQ(g[2 * x + 1], gy) << form.name << " " << x << "," << y;
      }
    }
  }
}

TEST(QuantizeDescriptorTest, ScaledBytesByHand) {
  // Scales 64 (signed) and 128 (absolute) keep every quotient exact, so each
  // byte is truncate(255 (v + 64) / 128) or truncate(255 v / 128). All bytes
  // of a component differ, so tie separation moves none of them.
  struct Case {
    float value;
    int byte;
  };
  const Case signedCases[16] = {{64, 255}, {-64, 0},  {0, 127},  {32, 191}, {-32, 63}, {16, 159},
                                {-16, 95}, {48, 223}, {-48, 31}, {8, 143},  {-8, 111}, {1, 129},
                                {-1, 125}, {63, 253}, {-63, 1},  {24, 175}};
  const Case absoluteCases[16] = {{128, 255}, {0, 0},   {64, 127}, {32, 63},  {96, 191},  {1, 1},
                                  {127, 253}, {16, 31}, {48, 95},  {80, 159}, {112, 223}, {8, 15},
                                  {24, 47},   {40, 79}, {56, 111}, {72, 143}};
  // Components 0 and 2 signed, 1 and 3 absolute, each in another order.
  const int shift[4] = {0, 0, 5, 9};
  HessianGradientFeature f;
  std::array<uint8_t, 64> expected;
  for (int m = 0; m < 64; ++m) {
    const Case* table = m % 2 ? absoluteCases : signedCases;
    const Case& c = table[(m / 4 + shift[m % 4]) % 16];
    f.descriptorValues[m] = c.value;
    expected[m] = static_cast<uint8_t>(c.byte);
  }
  GradientDescriptor::quantizeDescriptor(&f);
  EXPECT_EQ(f.descriptor, expected);
}

TEST(QuantizeDescriptorTest, TieSeparationKeepsTheFloatMaximum) {
  HessianGradientFeature f;
  for (int k = 0; k < 16; ++k) {
    f.descriptorValues[4 * k + 1] = 1.0f + k;
    f.descriptorValues[4 * k + 3] = 1.0f + k;
  }
  f.descriptorValues[4 * 0 + 2] = 200.0f;  // sets the signed scale
  f.descriptorValues[4 * 4 + 0] = 100.0f;  // byte 191
  f.descriptorValues[4 * 9 + 0] = 100.3f;  // byte 191 too, but the larger float
  GradientDescriptor::quantizeDescriptor(&f);
  EXPECT_EQ(f.descriptor[4 * 9 + 0], 191);
  EXPECT_EQ(f.descriptor[4 * 4 + 0], 190);
  // The float minimum (first zero, cell 0) keeps 127; equal bytes move up.
  EXPECT_EQ(f.descriptor[0], 127);
  for (int k : {1, 2, 3, 5, 15}) EXPECT_EQ(f.descriptor[4 * k + 0], 128) << k;
  EXPECT_EQ(f.descriptor[4 * 0 + 2], 255);
  EXPECT_EQ(f.descriptor[4 * 1 + 2], 127);
  EXPECT_EQ(f.descriptor[4 * 2 + 2], 128);
  EXPECT_EQ(f.descriptor[4 * 15 + 1], 255);
  // M0 9 names the float maximum; N0 0, M2 0, N2 1, M1 15, M3 15.
  EXPECT_EQ(descriptorKey(f.descriptor.data()), 0x9001FF);
}

TEST(QuantizeDescriptorTest, EveryTieSeparationFormMovesTheScalarBytes) {
  // Few distinct values per component, so bytes and float extremes tie
  // often; signed zeros, and a NaN case that takes the plain scan.
  std::mt19937 rng(31);
  const auto forms = tieSeparations();
  for (int n = 0; n < 2000; ++n) {
    float f[64];
    uint8_t d[64];
    for (int m = 0; m < 64; ++m) {
      f[m] = static_cast<float>(static_cast<int>(rng() % 5) - 2) * (n % 3 == 0 ? 0.0f : 1.0f);
      if (n % 3 == 0 && rng() % 2) f[m] = -f[m];
      if (n % 3 != 0) f[m] += static_cast<float>(rng() % 3) * 0.25f;
      d[m] = static_cast<uint8_t>(rng() % 4 == 0 ? 255 : rng() % 3);
    }
    if (n == 7) f[9] = std::nanf("");
    uint8_t expected[64];
    std::copy(d, d + 64, expected);
    forms.front().run(f, expected);
    for (const auto& form : forms) {
      uint8_t got[64];
      std::copy(d, d + 64, got);
      form.run(f, got);
      ASSERT_EQ(std::vector<uint8_t>(got, got + 64), std::vector<uint8_t>(expected, expected + 64))
          << form.name << " " << n;
    }
  }
}

TEST(QuantizeDescriptorTest, NoGradientGivesMidAndZeroBytes) {
  HessianGradientFeature f;
  f.descriptorValues.fill(0.0f);
  GradientDescriptor::quantizeDescriptor(&f);
  // 127 signed and 0 absolute; tie separation then moves every later cell one
  // below the first cell's byte, modulo 256.
  std::array<uint8_t, 64> expected;
  for (int m = 0; m < 64; ++m) expected[m] = m % 2 == 0 ? (m < 4 ? 127 : 126) : (m < 4 ? 0 : 255);
  EXPECT_EQ(f.descriptor, expected);
  GradientDescriptor::quantizeDescriptor(nullptr);
}

TEST(GradientOrientationTest, BinOfEveryGradientMatchesAtan2) {
  // Every gradient up to 400, then a lattice up to the largest the kernel gives.
  // The batch form takes each column of the lattice at once.
  std::vector<int32_t> gxs, gys, bins;
  for (const int step : {1, 7}) {
    const int limit = step == 1 ? 400 : 4080;
    for (int gx = -limit; gx <= limit; gx += step) {
      gxs.clear();
      gys.clear();
      for (int gy = -limit; gy <= limit; gy += step) {
        gxs.push_back(gx);
        gys.push_back(gy);
        if (gx == 0 && gy == 0) continue;
        ASSERT_EQ(gradientOrientationBin(gx, gy), atan2Bin(gx, gy)) << gx << "," << gy;
      }
      for (const auto& form : orientationBinnings()) {
        bins.assign(gxs.size(), -1);
        form.run(gxs.data(), gys.data(), static_cast<int32_t>(gxs.size()), bins.data());
        for (size_t k = 0; k < gxs.size(); ++k) {
          const int expected = gxs[k] == 0 && gys[k] == 0 ? 0 : atan2Bin(gxs[k], gys[k]);
          ASSERT_EQ(bins[k], expected) << form.name << " " << gxs[k] << "," << gys[k];
        }
      }
    }
  }
}

}  // namespace
}  // namespace vornik
