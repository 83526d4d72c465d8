#include "tracking/feature_matching.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "features/random.h"

namespace vornik {
namespace {

FeaturePtr makeFeature(uint8_t polarity, uint8_t fill) {
  auto f = std::make_shared<Feature>();
  f->polarity = polarity;
  f->descriptor.reset(new uint8_t[kDescriptorBytes]);
  std::memset(f->descriptor.get(), fill, kDescriptorBytes);
  return f;
}

// The matcher as the description states it: double Euclidean distances,
// qualifying at <= 300, strict improvement so the earliest wins.
int32_t referenceNearest(const Feature& f, const std::vector<FeaturePtr>& list) {
  if (!f.descriptor) return -1;
  int32_t best = -1;
  double bestDist = 0.0;
  for (size_t j = 0; j < list.size(); ++j) {
    const Feature* c = list[j].get();
    if (c == nullptr || !c->descriptor || c->polarity != f.polarity) continue;
    double sum = 0.0;
    for (int k = 0; k < kDescriptorBytes; ++k) {
      const double d = static_cast<double>(f.descriptor[k]) - static_cast<double>(c->descriptor[k]);
      sum += d * d;
    }
    const double dist = std::sqrt(sum);
    if (dist > 300.0) continue;
    if (best < 0 || dist < bestDist) {
      best = static_cast<int32_t>(j);
      bestDist = dist;
    }
  }
  return best;
}

struct ReferenceResult {
  std::vector<int32_t> aIndex, bIndex;
  std::vector<FeaturePtr> pairs;
};

ReferenceResult referenceMatch(const std::vector<FeaturePtr>& a, const std::vector<FeaturePtr>& b) {
  ReferenceResult r;
  for (const FeaturePtr& f : a) r.aIndex.push_back(f ? referenceNearest(*f, b) : -1);
  for (const FeaturePtr& f : b) r.bIndex.push_back(f ? referenceNearest(*f, a) : -1);
  for (size_t i = 0; i < a.size(); ++i) {
    const int32_t j = r.aIndex[i];
    if (j >= 0 && r.bIndex[j] == static_cast<int32_t>(i)) {
      r.pairs.push_back(a[i]);
      r.pairs.push_back(b[j]);
    }
  }
  return r;
}

// Random descriptors around a few shared prototypes so that many fall within
// the distance limit, with ties from duplicated descriptors.
std::vector<FeaturePtr> randomFeatures(Random& rng, int count, const std::vector<uint8_t>& protos) {
  std::vector<FeaturePtr> list;
  const int protoCount = static_cast<int>(protos.size() / kDescriptorBytes);
  for (int i = 0; i < count; ++i) {
    if (rng.uniform(40) == 0) {
      list.push_back(nullptr);
      continue;
    }
    auto f = makeFeature(static_cast<uint8_t>(rng.uniform(2)), 0);
    if (rng.uniform(30) == 0) {
      f->descriptor.reset();
    } else {
      const uint8_t* p = &protos[rng.uniform(protoCount) * kDescriptorBytes];
      const int noise = static_cast<int>(rng.uniform(4)) * 20;
      for (int k = 0; k < kDescriptorBytes; ++k) {
        const int v = p[k] + (noise > 0 ? static_cast<int>(rng.uniform(noise + 1)) - noise / 2 : 0);
        f->descriptor[k] = static_cast<uint8_t>(std::min(255, std::max(0, v)));
      }
    }
    list.push_back(f);
  }
  return list;
}

TEST(FeatureMatchingTest, AgreesWithReferenceOnRandomLists) {
  Random rng(77);
  size_t totalPairs = 0;
  for (int trial = 0; trial < 8; ++trial) {
    std::vector<uint8_t> protos(6 * kDescriptorBytes);
    for (uint8_t& v : protos) v = static_cast<uint8_t>(rng.uniform(256));
    const auto a = randomFeatures(rng, 20 + 37 * trial, protos);
    const auto b = randomFeatures(rng, 10 + 11 * trial, protos);
    const ReferenceResult ref = referenceMatch(a, b);
    const std::vector<FeaturePtr> pairs = matchFeaturesMutual(a, b);
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i]) {
        EXPECT_EQ(a[i]->matchIndex, ref.aIndex[i]) << "trial " << trial << " a " << i;
      }
    }
    for (size_t j = 0; j < b.size(); ++j) {
      if (b[j]) {
        EXPECT_EQ(b[j]->matchIndex, ref.bIndex[j]) << "trial " << trial << " b " << j;
      }
    }
    ASSERT_EQ(pairs.size(), ref.pairs.size());
    totalPairs += pairs.size() / 2;
    for (size_t k = 0; k < pairs.size(); ++k) EXPECT_EQ(pairs[k], ref.pairs[k]);
  }
  // The lists are built so that many, but not all, features find partners.
  EXPECT_GT(totalPairs, 30u);
}

// A feature of one polarity with every descriptor byte `fill`, except byte
// `index` (when not -1), which is `value`.
struct Made {
  uint8_t polarity;
  uint8_t fill;
  int index;
  uint8_t value;
};

// Small hand-made lists, one rule each; stale match indices are overwritten.
TEST(FeatureMatchingTest, HandMadeListsFollowTheMatchingRules) {
  struct Case {
    const char* rule;
    std::vector<Made> target, frame;
    std::vector<int32_t> targetMatch, frameMatch;
    std::vector<std::pair<int, int>> pairs;
  };
  const Case cases[] = {
      {"equal distances: the earliest frame feature",
       {{1, 100, -1, 0}},
       {{1, 0, -1, 0}, {1, 100, 0, 110}, {1, 100, 5, 90}},
       {1},
       {-1, 0, 0},
       {{0, 1}}},
      {"equal distances: the earliest target feature",
       {{0, 50, 10, 47}, {0, 50, 63, 53}},
       {{0, 50, -1, 0}},
       {0, 0},
       {0},
       {{0, 0}}},
      {"opposite polarities never meet", {{0, 100, -1, 0}}, {{1, 100, -1, 0}}, {-1}, {-1}, {}},
      {"only mutual matches",
       {{1, 80, -1, 0}, {1, 100, -1, 0}},
       {{1, 98, -1, 0}},
       {0, 0},
       {1},
       {{1, 0}}},
      {"empty frame list", {{0, 1, -1, 0}}, {}, {-1}, {}, {}},
      {"empty target list", {}, {{0, 1, -1, 0}}, {}, {-1}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    std::vector<FeaturePtr> target, frame;
    for (const Made& m : c.target) target.push_back(makeFeature(m.polarity, m.fill));
    for (const Made& m : c.frame) frame.push_back(makeFeature(m.polarity, m.fill));
    for (size_t i = 0; i < c.target.size(); ++i) {
      if (c.target[i].index >= 0) target[i]->descriptor[c.target[i].index] = c.target[i].value;
      target[i]->matchIndex = 7;
    }
    for (size_t i = 0; i < c.frame.size(); ++i) {
      if (c.frame[i].index >= 0) frame[i]->descriptor[c.frame[i].index] = c.frame[i].value;
      frame[i]->matchIndex = 7;
    }
    const std::vector<FeaturePtr> pairs = matchFeaturesMutual(target, frame);
    for (size_t i = 0; i < target.size(); ++i) EXPECT_EQ(target[i]->matchIndex, c.targetMatch[i]);
    for (size_t i = 0; i < frame.size(); ++i) EXPECT_EQ(frame[i]->matchIndex, c.frameMatch[i]);
    ASSERT_EQ(pairs.size(), 2 * c.pairs.size());
    for (size_t k = 0; k < c.pairs.size(); ++k) {
      EXPECT_EQ(pairs[2 * k], target[c.pairs[k].first]);
      EXPECT_EQ(pairs[2 * k + 1], frame[c.pairs[k].second]);
    }
  }
}

TEST(FeatureMatchingTest, DistanceLimitIsInclusiveAt300) {
  auto a = makeFeature(0, 100);
  auto exact = makeFeature(0, 100);
  // 36 bytes apart by 50: 36 * 2500 = 90000, distance exactly 300.
  for (int k = 0; k < 36; ++k) exact->descriptor[k] = 150;
  std::vector<FeaturePtr> target = {a};
  std::vector<FeaturePtr> frame = {exact};
  EXPECT_EQ(matchFeaturesMutual(target, frame).size(), 2u);
  EXPECT_EQ(descriptorSquaredDistance(a->descriptor.get(), exact->descriptor.get()), 90000);

  exact->descriptor[40] = 101;  // 90001: just beyond
  EXPECT_TRUE(matchFeaturesMutual(target, frame).empty());
  EXPECT_EQ(a->matchIndex, -1);
  EXPECT_EQ(exact->matchIndex, -1);
}

TEST(FeatureMatchingTest, SquaredDistanceKernel) {
  uint8_t x[kDescriptorBytes];
  uint8_t y[kDescriptorBytes];
  for (int k = 0; k < kDescriptorBytes; ++k) {
    x[k] = static_cast<uint8_t>(k * 4);
    y[k] = static_cast<uint8_t>(255 - k);
  }
  int32_t expected = 0;
  for (int k = 0; k < kDescriptorBytes; ++k) expected += (k * 4 - (255 - k)) * (k * 4 - (255 - k));
  EXPECT_EQ(descriptorSquaredDistance(x, y), expected);
  std::memset(x, 255, sizeof(x));
  std::memset(y, 0, sizeof(y));
  EXPECT_EQ(descriptorSquaredDistance(x, y), 64 * 255 * 255);
}

}  // namespace
}  // namespace vornik
