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

TEST(FeatureMatchingTest, EqualDistancesPickTheEarliest) {
  auto a = makeFeature(1, 100);
  auto b0 = makeFeature(1, 100);
  auto b1 = makeFeature(1, 100);
  b0->descriptor[0] = 110;  // distance 10
  b1->descriptor[5] = 90;   // distance 10
  auto far = makeFeature(1, 0);
  std::vector<FeaturePtr> target = {a};
  std::vector<FeaturePtr> frame = {far, b0, b1};
  auto pairs = matchFeaturesMutual(target, frame);
  EXPECT_EQ(a->matchIndex, 1);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0], a);
  EXPECT_EQ(pairs[1], b0);

  // The other direction: two target features equally close to one frame feature.
  auto a0 = makeFeature(0, 50);
  auto a1 = makeFeature(0, 50);
  auto b = makeFeature(0, 50);
  a0->descriptor[63] = 53;
  a1->descriptor[10] = 47;
  target = {a1, a0};
  frame = {b};
  pairs = matchFeaturesMutual(target, frame);
  EXPECT_EQ(b->matchIndex, 0);
  EXPECT_EQ(a0->matchIndex, 0);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0], a1);
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

TEST(FeatureMatchingTest, OppositePolaritiesAndOneSidedMatches) {
  auto a = makeFeature(0, 100);
  auto b = makeFeature(1, 100);  // identical descriptor, other polarity
  std::vector<FeaturePtr> target = {a};
  std::vector<FeaturePtr> frame = {b};
  EXPECT_TRUE(matchFeaturesMutual(target, frame).empty());
  EXPECT_EQ(a->matchIndex, -1);
  EXPECT_EQ(b->matchIndex, -1);

  // a0's nearest is b0, but b0 prefers a1: only (a1, b0) is kept.
  auto a0 = makeFeature(1, 80);
  auto a1 = makeFeature(1, 100);
  auto b0 = makeFeature(1, 98);
  target = {a0, a1};
  frame = {b0};
  const auto pairs = matchFeaturesMutual(target, frame);
  EXPECT_EQ(a0->matchIndex, 0);
  EXPECT_EQ(b0->matchIndex, 1);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0], a1);
  EXPECT_EQ(pairs[1], b0);
}

TEST(FeatureMatchingTest, EmptyListsAndStaleIndices) {
  auto a = makeFeature(0, 1);
  a->matchIndex = 7;
  std::vector<FeaturePtr> target = {a};
  EXPECT_TRUE(matchFeaturesMutual(target, {}).empty());
  EXPECT_EQ(a->matchIndex, -1);
  EXPECT_TRUE(matchFeaturesMutual({}, target).empty());
  EXPECT_EQ(a->matchIndex, -1);
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
