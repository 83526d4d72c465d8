#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
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

TEST(IntegralImageTest, BoxSumsMatchDirectSums) {
  const Gray g = randomImage(53, 41, 2);
  IntegralImage integral(g.w, g.h);
  integral.compute(g.p.data(), false);
  std::mt19937 rng(4);
  for (int n = 0; n < 2000; ++n) {
    const int r0 = static_cast<int>(rng() % 60) - 10, c0 = static_cast<int>(rng() % 70) - 10;
    const int r1 = r0 + static_cast<int>(rng() % 30), c1 = c0 + static_cast<int>(rng() % 30);
    ASSERT_EQ(boxSum(integral, r0, r1, c0, c1), g.sum(r0, r1, c0, c1))
        << r0 << " " << r1 << " " << c0 << " " << c1;
  }
  EXPECT_EQ(boxSum(integral, 0, g.h, 0, g.w), g.sum(0, g.h, 0, g.w));
  EXPECT_EQ(boxSum(integral, -20, -5, 3, 9), 0);
  EXPECT_EQ(boxSum(integral, 50, 60, 3, 9), 0);
  EXPECT_EQ(boxSum(integral, 5, 3, 3, 9), 0);
  for (int n = 0; n < 500; ++n) {
    const int row = static_cast<int>(rng() % 51) - 5, col = static_cast<int>(rng() % 63) - 5;
    const int size = 4 * (1 + static_cast<int>(rng() % 6));
    const int h = size / 2;
    ASSERT_EQ(haarX(integral, row, col, size), g.sum(row - h, row - h + size, col, col + h) -
                                                   g.sum(row - h, row - h + size, col - h, col));
    ASSERT_EQ(haarY(integral, row, col, size), g.sum(row, row + h, col - h, col - h + size) -
                                                   g.sum(row - h, row, col - h, col - h + size));
  }
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

void checkLayerAgainstFormula(const Gray& g, int filter, int stride) {
  IntegralImage integral(g.w, g.h);
  integral.compute(g.p.data(), false);
  ResponseLayer layer(g.w / 2, g.h / 2, 2, filter);
  layer.compute(integral);
  const int b = (filter - 1) / 2, l = filter / 3, area = filter * filter;
  const int band = (filter - 1 + 3) / 4;
  EXPECT_EQ(layer.band(), band);
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
  for (int filter : {21, 45}) {
    SCOPED_TRACE(filter);
    checkLayerAgainstFormula(randomImage(130, 110, 8), filter, 1);
    checkLayerAgainstFormula(photoCrop("coffee.jpg", 50, 40, 640, 480), filter, 7);
  }
  // Sizes without a dedicated kernel take the general path.
  checkLayerAgainstFormula(photoCrop("camera.jpg", 100, 100, 120, 90), 27, 1);
}

TEST(ResponseLayerTest, UniformImageGivesZeroResponses) {
  std::vector<uint8_t> flat(200 * 160, 99);
  FeatureExtractor extractor(200, 160, 1);
  auto features = extractor.extract(flat.data());
  ASSERT_NE(features, nullptr);
  for (const auto& layer : extractor.layers()) {
    for (int32_t v : layer->responses) ASSERT_EQ(v, 0);
  }
  EXPECT_TRUE(features->featuresOfLayer(0).empty());
  EXPECT_TRUE(features->featuresOfLayer(1).empty());
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
  std::mt19937 rng(12);
  ResponseLayer layer(80, 60, 2, 21);
  for (auto& v : layer.responses) v = static_cast<int32_t>(rng() % 400);
  std::vector<FeaturePtr> features;
  findLayerMaxima(layer, 0, &features);
  const auto expected = slowMaxima(layer);
  ASSERT_EQ(features.size(), expected.size());
  ASSERT_FALSE(expected.empty());
  for (size_t i = 0; i < features.size(); ++i) {
    EXPECT_EQ(features[i]->y, 2 * expected[i].first);
    EXPECT_EQ(features[i]->x, 2 * expected[i].second);
    EXPECT_EQ(features[i]->response,
              static_cast<float>(layer.response(expected[i].first, expected[i].second)));
    EXPECT_EQ(features[i]->scale, 2.80000019f);  // 21 x 1.2 / 9 in floats: 2.8f + 1 ulp
  }
}

TEST(LayerMaximaTest, ThresholdTiesAndBand) {
  ResponseLayer layer(40, 40, 2, 21);
  auto set = [&](int r, int c, int v) { layer.responses[r * 40 + c] = v; };
  set(10, 10, 99);   // not above the threshold
  set(10, 20, 100);  // a feature
  set(20, 10, 500);  // equal maxima one cell apart
  set(20, 11, 500);
  set(20, 25, 300);  // strictly greater than an equal pair two cells away
  set(20, 27, 299);
  set(5, 20, 900);   // row 5 < m + 1 = 6: outside the searched cells
  set(35, 30, 900);  // row 35 >= 40 - 5: outside as well
  set(34, 20, 800);  // last searched row
  layer.laplacian[10 * 40 + 20] = 1;
  std::vector<FeaturePtr> features;
  findLayerMaxima(layer, 1, &features);
  ASSERT_EQ(features.size(), 3u);
  EXPECT_EQ(features[0]->x, 40);
  EXPECT_EQ(features[0]->y, 20);
  EXPECT_EQ(features[0]->polarity, 1);
  EXPECT_EQ(features[0]->layer, 1);
  EXPECT_EQ(features[1]->x, 50);
  EXPECT_EQ(features[2]->y, 68);
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

std::vector<uint8_t> toBgr(const std::vector<uint8_t>& gray) {
  std::vector<uint8_t> bgr(gray.size() * 3);
  for (size_t i = 0; i < gray.size(); ++i) bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = gray[i];
  return bgr;
}

TEST(FeatureExtractorTest, PhotoFeaturesSortedInsideTheirBands) {
  const Gray g = photoCrop("astronaut.jpg", -64, 16, 640, 480);
  FeatureExtractor extractor(640, 480, 0);
  auto manager = extractor.extract(toBgr(g.p).data());
  ASSERT_NE(manager, nullptr);
  ASSERT_EQ(manager->layerCount(), 2);
  const int lo[2] = {12, 24}, hi[2] = {628, 616};
  for (int li = 0; li < 2; ++li) {
    const auto& list = manager->featuresOfLayer(li);
    ASSERT_GT(list.size(), 60u) << li;
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(list[i]->layer, li);
      EXPECT_GE(list[i]->x, lo[li]);
      EXPECT_LE(list[i]->x, hi[li]);
      EXPECT_GT(list[i]->response, 99.0f);
      EXPECT_EQ(list[i]->descriptor, nullptr);
      if (i > 0) {
        EXPECT_GE(list[i - 1]->response, list[i]->response);
      }
    }
  }
  // Grey input gives the same features as the equivalent colour input.
  FeatureExtractor grayExtractor(640, 480, 1);
  auto grayManager = grayExtractor.extract(g.p.data());
  ASSERT_EQ(grayManager->featuresOfLayer(0).size(), manager->featuresOfLayer(0).size());
}

TEST(FeatureExtractorTest, DescribeIsComputedOnceAndBounded) {
  const Gray g = photoCrop("rocket.jpg", 0, 0, 320, 240);
  FeatureExtractor extractor(320, 240, 1);
  auto manager = extractor.extract(g.p.data());
  ASSERT_NE(manager, nullptr);
  const auto first = manager->describe();
  size_t expected = 0;
  for (int li = 0; li < 2; ++li)
    expected += std::min<size_t>(manager->featuresOfLayer(li).size(), 60);
  ASSERT_EQ(first.size(), expected);
  ASSERT_GT(first.size(), 0u);
  std::vector<const uint8_t*> buffers;
  for (const auto& f : first) {
    ASSERT_NE(f->descriptor, nullptr);
    EXPECT_GE(f->orientation, 0.0f);
    EXPECT_LT(f->orientation, 6.2831855f);
    buffers.push_back(f->descriptor.get());
  }
  const auto second = manager->describe();
  ASSERT_EQ(second.size(), first.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(second[i], first[i]);
    EXPECT_EQ(second[i]->descriptor.get(), buffers[i]);
  }
}

TEST(FeatureExtractorTest, EarlierManagerKeepsItsIntegralImage) {
  const Gray a = photoCrop("brick.jpg", 0, 0, 320, 240);
  const Gray b = photoCrop("gravel.jpg", 0, 0, 320, 240);
  FeatureExtractor extractor(320, 240, 1);
  auto first = extractor.extract(a.p.data());
  auto reference = FeatureExtractor(320, 240, 1).extract(a.p.data());
  auto second = extractor.extract(b.p.data());
  ASSERT_NE(first->integralImage(), second->integralImage());
  const auto d1 = first->describe();
  const auto d2 = reference->describe();
  ASSERT_EQ(d1.size(), d2.size());
  for (size_t i = 0; i < d1.size(); ++i) {
    ASSERT_TRUE(
        std::equal(d1[i]->descriptor.get(), d1[i]->descriptor.get() + 64, d2[i]->descriptor.get()));
  }
}

TEST(FeatureExtractorTest, EvenShiftKeepsFeaturesAndDescriptors) {
  const Gray a = photoCrop("coffee.jpg", 100, 60, 320, 240);
  const Gray b = photoCrop("coffee.jpg", 106, 56, 320, 240);
  FeatureExtractor ea(320, 240, 1);
  FeatureExtractor eb(320, 240, 1);
  auto ma = ea.extract(a.p.data());
  auto mb = eb.extract(b.p.data());
  const auto da = ma->describe();
  const auto db = mb->describe();
  std::map<std::tuple<int, int, int>, FeaturePtr> byPosition;
  for (const auto& f : db) byPosition[{f->layer, f->x + 6, f->y - 4}] = f;
  int matched = 0;
  for (const auto& f : da) {
    const auto it = byPosition.find({f->layer, f->x, f->y});
    if (it == byPosition.end()) continue;
    // Far from the image edges the shifted crop holds the same pixels.
    if (f->x < 120 || f->x > 200 || f->y < 100 || f->y > 140) continue;
    ++matched;
    EXPECT_EQ(f->response, it->second->response);
    EXPECT_EQ(f->orientation, it->second->orientation);
    EXPECT_TRUE(
        std::equal(f->descriptor.get(), f->descriptor.get() + 64, it->second->descriptor.get()));
  }
  EXPECT_GT(matched, 0);
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
      const int row = y + j * s, col = x + i * s, n = 4 * s, h = n / 2;
      const float w = G[std::abs(i)][std::abs(j)];
      const float rx = w * static_cast<float>(g.sum(row - h, row - h + n, col, col + h) -
                                              g.sum(row - h, row - h + n, col - h, col));
      const float ry = w * static_cast<float>(g.sum(row, row + h, col - h, col - h + n) -
                                              g.sum(row - h, row, col - h, col - h + n));
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

  auto rampOrientation = [&](int ax, int ay) {
    Gray r{100, 100, std::vector<uint8_t>(10000)};
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 100; ++x)
        r.p[y * 100 + x] = static_cast<uint8_t>(128 + ax * (x - 50) + ay * (y - 50));
    IntegralImage ri(100, 100);
    ri.compute(r.p.data(), false);
    return computeOrientation(ri, 50, 50, 2.8f, &work);
  };
  EXPECT_EQ(rampOrientation(0, 1), 3.1415927f / 2);  // brighter downwards
  EXPECT_EQ(rampOrientation(-1, 0), 3.1415927f);     // brighter to the left
  // Brighter to the right: every angle is exactly 0, which no window holds.
  EXPECT_EQ(rampOrientation(1, 0), 0.0f);

  // A flat patch: no sample has a direction.
  Gray flat{60, 60, std::vector<uint8_t>(3600, 70)};
  IntegralImage fi(60, 60);
  fi.compute(flat.p.data(), false);
  EXPECT_EQ(computeOrientation(fi, 30, 30, 2.8f, &work), 0.0f);
  for (float a : work.angle) EXPECT_EQ(a, -1.0f);
}

TEST(HessianDescriptorTest, QuantisationBytes) {
  float v[64] = {};
  v[0] = 2.0f;   // the signed maximum: (1 + 1) * 128 = 256, stored as 255
  v[2] = -2.0f;  // 0
  v[4] = 0.5f;   // (0.25 + 1) * 128 = 160
  v[1] = 4.0f;   // the absolute maximum: 256 -> 255
  v[3] = 1.0f;   // 64
  uint8_t d[64];
  quantizeHessianDescriptor(v, d);
  EXPECT_EQ(d[0], 255);
  EXPECT_EQ(d[2], 0);
  EXPECT_EQ(d[4], 160);
  EXPECT_EQ(d[6], 128);
  EXPECT_EQ(d[1], 255);
  EXPECT_EQ(d[3], 64);
  EXPECT_EQ(d[5], 0);

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
    float values[64];
    computeHessianDescriptorValues(integral, x, y, scale, theta, values);
    const int s = static_cast<int>(scale + 0.5f);
    const float co = std::cos(theta), si = std::sin(theta);
    const int origins[4] = {-12, -7, -2, 3};
    float expected[64];
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
            const int n4 = 4 * s, h = 2 * s;
            const float rx = static_cast<float>(g.sum(py - h, py - h + n4, px, px + h) -
                                                g.sum(py - h, py - h + n4, px - h, px));
            const float ry = static_cast<float>(g.sum(py, py + h, px - h, px - h + n4) -
                                                g.sum(py - h, py, px - h, px - h + n4));
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
    for (int m = 0; m < 64; ++m) ASSERT_EQ(values[m], expected[m]) << n << " " << m;
  }
}

}  // namespace
}  // namespace vornik
