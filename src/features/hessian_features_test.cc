#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "features/descriptor_tables.h"
#include "features/feature_extractor.h"
#include "features/hessian_descriptor.h"
#include "features/integral_image.h"
#include "features/response_layer.h"
#include "features/test_photos.h"
#include "manager/profiler.h"

namespace vornik {
namespace {

struct Gray {
  int w;
  int h;
  std::vector<uint8_t> p;
  // Sum over rows [r0, r1), columns [c0, c1), clipped.
  int64_t sum(int r0, int r1, int c0, int c1) const {
    int64_t s = 0;
    for (int r = std::max(r0, 0); r < std::min(r1, h); ++r)
      for (int c = std::max(c0, 0); c < std::min(c1, w); ++c) s += p[r * w + c];
    return s;
  }
  // Inclusive bounds, as the filter description writes them.
  int32_t S(int y0, int y1, int x0, int x1) const {
    return static_cast<int32_t>(sum(y0, y1 + 1, x0, x1 + 1));
  }
  // Haar wavelet responses of side n centred on (row, col).
  float haarX(int row, int col, int n) const {
    return static_cast<float>(sum(row - n / 2, row + n / 2, col, col + n / 2) -
                              sum(row - n / 2, row + n / 2, col - n / 2, col));
  }
  float haarY(int row, int col, int n) const {
    return static_cast<float>(sum(row, row + n / 2, col - n / 2, col + n / 2) -
                              sum(row - n / 2, row, col - n / 2, col + n / 2));
  }
};

Gray randomImage(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  Gray g{w, h, std::vector<uint8_t>(w * h)};
  for (auto& v : g.p) v = static_cast<uint8_t>(rng());
  return g;
}

Gray photoCrop(const char* name, int x0, int y0, int w, int h) {
  const auto photo = testing_photos::loadPhoto(testing_photos::photoPath(name));
  return Gray{w, h, testing_photos::grayCrop(photo, x0, y0, w, h)};
}

TEST(IntegralImageTest, ColourInputIsConvertedAndLargeImagesStayExact) {
  std::vector<uint8_t> bgr = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  IntegralImage colour(2, 2);
  colour.compute(bgr.data(), true);
  EXPECT_EQ(boxSum(colour, 0, 2, 0, 2), 28 + 149 + 76 + 255);
  EXPECT_EQ(boxSum(colour, 1, 2, 0, 1), 76);

  // A white 6000 x 2000 image sums past 2^31; boxes of any size that fit
  // an int32 stay exact.
  std::vector<uint8_t> white(6000 * 2000, 255);
  IntegralImage big(6000, 2000);
  big.compute(white.data(), false);
  EXPECT_EQ(boxSum(big, 1990, 2000, 5990, 6000), 100 * 255);
  EXPECT_EQ(boxSum(big, 1000, 1100, 3000, 3100), 10000 * 255);
}

void checkLayerAgainstFormula(const Gray& g, int filter, int stride, int form) {
  IntegralImage integral(g.w, g.h);
  integral.compute(g.p.data(), false);
  ResponseLayer layer(g.w / 2, g.h / 2, 2, filter);
  layer.compute(integral, form);
  const int b = (filter - 1) / 2, l = filter / 3, area = filter * filter;
  const int band = (filter - 1 + 3) / 4;
  for (int r = 0; r < layer.height;
       r += (r < band + 2 || r > layer.height - band - 3) ? 1 : stride) {
    for (int c = 0; c < layer.width;
         c += (c < band + 2 || c > layer.width - band - 3) ? 1 : stride) {
      if (r < band || r >= layer.height - band || c < band || c >= layer.width - band) {
        ASSERT_EQ(layer.response(r, c), 0) << r << "," << c;
        continue;
      }
      const int y = 2 * r, x = 2 * c;
      const int dxx = (g.S(y - l + 1, y + l - 1, x - b, x + b) -
                       3 * g.S(y - l + 1, y + l - 1, x - l / 2, x - l / 2 + l - 1)) /
                      area;
      const int dyy = (g.S(y - b, y + b, x - l + 1, x + l - 1) -
                       3 * g.S(y - l / 2, y - l / 2 + l - 1, x - l + 1, x + l - 1)) /
                      area;
      const int dxy = (g.S(y - b, y - 1, x + 1, x + b) + g.S(y + 1, y + b, x - b, x - 1) -
                       g.S(y - b, y - 1, x - b, x - 1) - g.S(y + 1, y + b, x + 1, x + b)) /
                      area;
      ASSERT_EQ(layer.response(r, c), 64 * dxx * dyy - 52 * dxy * dxy) << r << "," << c;
      ASSERT_EQ(layer.laplacianAt(r, c), dxx + dyy >= 0 ? 1 : 0) << r << "," << c;
    }
  }
}

TEST(ResponseLayerTest, MatchesTheFormulaPixelByPixel) {
  const auto forms = ResponseLayer::forms();
  for (int form = 0; form < static_cast<int>(forms.size()); ++form) {
    for (int filter : {21, 45}) {
      SCOPED_TRACE(forms[form] + " " + std::to_string(filter));
      checkLayerAgainstFormula(randomImage(130, 110, 8), filter, 1, form);
      checkLayerAgainstFormula(photoCrop("coffee.jpg", 50, 40, 640, 480), filter, 7, form);
    }
  }
  // Sizes without a dedicated kernel take the general path.
  checkLayerAgainstFormula(photoCrop("camera.jpg", 100, 100, 120, 90), 27, 1, -1);
}

std::vector<std::pair<int, int>> slowMaxima(const ResponseLayer& layer) {
  const int m = (layer.filterSize + 1) / 4;
  std::vector<std::pair<int, int>> out;
  for (int r = m + 1; r < layer.height - m; ++r) {
    for (int c = m + 1; c < layer.width - m; ++c) {
      const int v = layer.response(r, c);
      if (v <= 99) continue;
      bool isMax = true;
      for (int dr = -2; dr <= 2; ++dr)
        for (int dc = -2; dc <= 2; ++dc)
          if ((dr || dc) && layer.response(r + dr, c + dc) >= v) isMax = false;
      if (isMax) out.push_back({r, c});
    }
  }
  return out;
}

TEST(LayerMaximaTest, MatchesBruteForceScan) {
  // Responses 0 to 399: many at or below the threshold and many equal neighbours.
  std::mt19937 rng(12);
  ResponseLayer layer(80, 60, 2, 21);
  for (auto& v : layer.responses) v = static_cast<int32_t>(rng() % 400);
  for (auto& v : layer.laplacian) v = static_cast<uint8_t>(rng() % 2);
  const auto expected = slowMaxima(layer);
  ASSERT_FALSE(expected.empty());
  for (const auto& form : maximaRowScans()) {
    SCOPED_TRACE(form.name);
    std::vector<FeaturePtr> features;
    findLayerMaxima(layer, 1, &features, form.run);
    ASSERT_EQ(features.size(), expected.size());
    for (size_t i = 0; i < features.size(); ++i) {
      const Feature& f = *features[i];
      const int r = expected[i].first, c = expected[i].second;
      // Scale 21 x 1.2 / 9 in floats: 2.8f + 1 ulp.
      EXPECT_EQ(std::make_tuple(f.x, f.y, f.response, int{f.polarity}, f.layer, f.scale),
                std::make_tuple(2 * c, 2 * r, static_cast<float>(layer.response(r, c)),
                                int{layer.laplacianAt(r, c)}, 1, 2.80000019f));
    }
  }
}

TEST(FeatureExtractorTest, RejectsUnknownFormatWithoutTimers) {
  clearTimers();
  std::vector<uint8_t> pixels(64 * 64 * 3, 10);
  FeatureExtractor bad(64, 64, 2);
  EXPECT_EQ(bad.extract(pixels.data()), nullptr);
  EXPECT_TRUE(timerRecords().empty());
  FeatureExtractor good(64, 64, 0);
  EXPECT_EQ(good.extract(nullptr), nullptr);
  ASSERT_NE(good.extract(pixels.data()), nullptr);
  EXPECT_EQ(timerRecords().at(kTimerInitPoseIntegral).count, 1);
  EXPECT_EQ(timerRecords().at(kTimerInitPoseDetection).count, 1);
  clearTimers();
}

TEST(FeatureExtractorTest, PhotoFeaturesSortedInsideTheirBands) {
  const auto photo = testing_photos::loadPhoto(testing_photos::photoPath("coffee.jpg"));
  FeatureExtractor extractor(photo.width, photo.height, 0);
  auto manager = extractor.extract(photo.bgr.data());
  ASSERT_NE(manager, nullptr);
  ASSERT_EQ(manager->layerCount(), 2);
  const int lo[2] = {12, 24}, hi[2] = {photo.width - 12, photo.width - 24};
  for (int li = 0; li < 2; ++li) {
    const auto& list = manager->featuresOfLayer(li);
    ASSERT_GT(list.size(), 60u) << li;
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(list[i]->layer, li);
      EXPECT_TRUE(list[i]->x >= lo[li] && list[i]->x <= hi[li]) << list[i]->x;
      EXPECT_GT(list[i]->response, 99.0f);
      EXPECT_TRUE(i == 0 || list[i - 1]->response >= list[i]->response) << i;
    }
  }
  // Grey input gives the same features as the equivalent colour input.
  FeatureExtractor grayExtractor(photo.width, photo.height, 1);
  auto grayManager = grayExtractor.extract(photo.gray.data());
  ASSERT_EQ(grayManager->featuresOfLayer(0).size(), manager->featuresOfLayer(0).size());
  // Only the strongest 60 of each layer are described.
  const auto described = manager->describe();
  ASSERT_EQ(described.size(), 120u);
  for (const auto& f : described) {
    ASSERT_NE(f->descriptor, nullptr);
    EXPECT_GE(f->orientation, 0.0f);
    EXPECT_LT(f->orientation, 6.2831855f);
  }
}

TEST(FeatureExtractorTest, EarlierManagerKeepsItsIntegralImage) {
  const Gray a = photoCrop("brick.jpg", 0, 0, 320, 240);
  const Gray b = photoCrop("gravel.jpg", 0, 0, 320, 240);
  FeatureExtractor extractor(320, 240, 1);
  auto first = extractor.extract(a.p.data());
  auto reference = FeatureExtractor(320, 240, 1).extract(a.p.data());
  auto second = extractor.extract(b.p.data());
  const auto d1 = first->describe();
  const auto d2 = reference->describe();
  ASSERT_EQ(d1.size(), d2.size());
  for (size_t i = 0; i < d1.size(); ++i) {
    ASSERT_TRUE(
        std::equal(d1[i]->descriptor.get(), d1[i]->descriptor.get() + 64, d2[i]->descriptor.get()));
  }
}

// Orientation written out from the description, with direct pixel sums.
float slowOrientation(const Gray& g, int x, int y, float scale) {
  static const float G[7][7] = {
      {0.0235069f, 0.0184912f, 0.0123950f, 0.0070802f, 0.0034463f, 0.0014295f, 0.0005052f},
      {0.0216996f, 0.0170695f, 0.0114421f, 0.0065358f, 0.0031813f, 0.0013196f, 0.0004664f},
      {0.0170695f, 0.0134274f, 0.0090006f, 0.0051412f, 0.0025025f, 0.0010380f, 0.0003669f},
      {0.0114421f, 0.0090006f, 0.0060333f, 0.0034463f, 0.0016775f, 0.0006958f, 0.0002459f},
      {0.0065358f, 0.0051412f, 0.0034463f, 0.0019685f, 0.0009582f, 0.0003974f, 0.0001405f},
      {0.0031813f, 0.0025025f, 0.0016775f, 0.0009582f, 0.0004664f, 0.0001935f, 0.0000684f},
      {0.0013196f, 0.0010380f, 0.0006958f, 0.0003974f, 0.0001935f, 0.0000802f, 0.0000284f}};
  const int s = static_cast<int>(scale + 0.5f);
  std::vector<float> rxs, rys, angles;
  for (int i = -5; i <= 5; ++i) {
    for (int j = -5; j <= 5; ++j) {
      if (i * i + j * j >= 36) continue;
      const float w = G[std::abs(i)][std::abs(j)];
      const float rx = w * g.haarX(y + j * s, x + i * s, 4 * s);
      const float ry = w * g.haarY(y + j * s, x + i * s, 4 * s);
      rxs.push_back(rx);
      rys.push_back(ry);
      angles.push_back(rx == 0 && ry == 0 ? -1.0f : quadrantAngle(rx, ry));
    }
  }
  float best = 0, bx = 0, by = 0;
  for (float a = 0; a < 2 * 3.1415927f; a += 0.15f) {
    float e = a + 1.0471976f;
    if (e > 2 * 3.1415927f) e = a - 5.235988f;
    float sx = 0, sy = 0;
    for (size_t k = 0; k < angles.size(); ++k) {
      const float t = angles[k];
      if ((a < e && a < t && t < e) || (e < a && ((0 < t && t < e) || (a < t && t < 3.1415927f)))) {
        sx += rxs[k];
        sy += rys[k];
      }
    }
    if (sx * sx + sy * sy > best) {
      best = sx * sx + sy * sy;
      bx = sx;
      by = sy;
    }
  }
  return best > 0 ? quadrantAngle(bx, by) : 0.0f;
}

TEST(HessianOrientationTest, MatchesDirectComputationAndPureGradients) {
  const Gray g = photoCrop("chelsea.jpg", 0, 0, 300, 200);
  IntegralImage integral(g.w, g.h);
  integral.compute(g.p.data(), false);
  ResponseAndAngle work;
  std::mt19937 rng(21);
  for (int n = 0; n < 60; ++n) {
    const int x = static_cast<int>(rng() % g.w), y = static_cast<int>(rng() % g.h);
    const float scale = n % 2 ? 2.8f : 6.0f;
    ASSERT_EQ(computeOrientation(integral, x, y, scale, &work), slowOrientation(g, x, y, scale))
        << x << "," << y;
  }

  // Brighter downwards, to the left, to the right (every angle exactly 0,
  // which no window holds) and a flat patch (no sample has a direction).
  const float ramps[][3] = {{0, 1, 3.1415927f / 2}, {-1, 0, 3.1415927f}, {1, 0, 0}, {0, 0, 0}};
  for (const auto& c : ramps) {
    std::vector<uint8_t> r(10000);
    for (int i = 0; i < 10000; ++i)
      r[i] = static_cast<uint8_t>(128 + c[0] * (i % 100 - 50) + c[1] * (i / 100 - 50));
    IntegralImage ri(100, 100);
    ri.compute(r.data(), false);
    EXPECT_EQ(computeOrientation(ri, 50, 50, 2.8f, &work), c[2]) << c[0] << "," << c[1];
  }
  for (float a : work.angle) EXPECT_EQ(a, -1.0f);
}

TEST(HessianDescriptorTest, QuantisationBytes) {
  // {index, value, byte}: signed components (even) scale by the largest |v|,
  // (v / 2 + 1) * 128; absolute ones (odd) by the largest v, v / 4 * 256; 256
  // is stored as 255.
  const float cases[][3] = {{0, 2.0f, 255}, {2, -2.0f, 0}, {4, 0.5f, 160}, {6, 0, 128},
                            {1, 4.0f, 255}, {3, 1.0f, 64}, {5, 0, 0}};
  float v[64] = {};
  for (const auto& c : cases) v[static_cast<int>(c[0])] = c[1];
  uint8_t d[64];
  quantizeHessianDescriptor(v, d);
  for (const auto& c : cases) EXPECT_EQ(d[static_cast<int>(c[0])], c[2]) << c[0];

  float zero[64] = {};
  quantizeHessianDescriptor(zero, d);
  for (int m = 0; m < 64; ++m) EXPECT_EQ(d[m], m % 2 == 0 ? 128 : 0) << m;
}

TEST(HessianDescriptorTest, MatchesDirectComputation) {
  // The same single-precision terms in the same order as the description,
  // with direct pixel sums: the values, and so the stored bytes, agree to the
  // last bit.
  const Gray g = photoCrop("hubble.jpg", 30, 30, 200, 160);
  IntegralImage integral(g.w, g.h);
  integral.compute(g.p.data(), false);
  std::mt19937 rng(5);
  for (int n = 0; n < 12; ++n) {
    const int x = static_cast<int>(rng() % g.w), y = static_cast<int>(rng() % g.h);
    const float scale = n % 2 ? 2.8f : 6.0f;
    const float theta = static_cast<float>(rng() % 628) / 100.0f;
    std::array<float, 64> values, expected;
    computeHessianDescriptorValues(integral, x, y, scale, theta, values.data());
    const int s = static_cast<int>(scale + 0.5f);
    const float co = std::cos(theta), si = std::sin(theta);
    const int origins[4] = {-12, -7, -2, 3};
    int index = 0;
    for (int a = 0; a < 4; ++a) {
      for (int b = 0; b < 4; ++b) {
        const int i0 = origins[a], j0 = origins[b];
        const int xs = static_cast<int>(x + (i0 + 5) * s * co - (j0 + 5) * s * si + 0.5f);
        const int ys = static_cast<int>(y + (j0 + 5) * s * co + (i0 + 5) * s * si + 0.5f);
        float su = 0, sau = 0, sw = 0, saw = 0;
        for (int k = i0; k < i0 + 9; ++k) {
          for (int l = j0; l < j0 + 9; ++l) {
            const int px = static_cast<int>(x + k * s * co - l * s * si + 0.5f);
            const int py = static_cast<int>(y + l * s * co + k * s * si + 0.5f);
            const float sigma = 2.5f * s;
            const float g1 =
                std::exp(-static_cast<float>((xs - px) * (xs - px) + (ys - py) * (ys - py)) /
                         (2 * sigma * sigma)) /
                (2 * 3.1415927f * sigma * sigma);
            const float rx = g.haarX(py, px, 4 * s), ry = g.haarY(py, px, 4 * s);
            const float u = (co * ry - si * rx) * g1, w = (si * ry + co * rx) * g1;
            su += u;
            sau += std::fabs(u);
            sw += w;
            saw += std::fabs(w);
          }
        }
        const float g2 = kSubRegionWeights[a][b];
        for (float v : {su * g2, sau * g2, sw * g2, saw * g2}) expected[index++] = v;
      }
    }
    ASSERT_EQ(values, expected) << n;
  }
}

}  // namespace
}  // namespace vornik
