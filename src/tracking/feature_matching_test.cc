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

int32_t slowSquaredDistance(const uint8_t* x, const uint8_t* y) {
  int32_t sum = 0;
  for (int k = 0; k < kDescriptorBytes; ++k) sum += (x[k] - y[k]) * (x[k] - y[k]);
  return sum;
}

// The matcher in its plain form: Euclidean distances qualifying at <= 300,
// polarities apart, strict improvement so the earliest wins (-1: none).
int32_t referenceNearest(const FeaturePtr& f, const std::vector<FeaturePtr>& list) {
  int32_t best = -1;
  double bestDist = 0.0;
  for (size_t j = 0; f && f->descriptor && j < list.size(); ++j) {
    const Feature* c = list[j].get();
    if (c == nullptr || !c->descriptor || c->polarity != f->polarity) continue;
    const double dist = std::sqrt(slowSquaredDistance(f->descriptor.get(), c->descriptor.get()));
    if (dist <= 300.0 && (best < 0 || dist < bestDist)) {
      best = static_cast<int32_t>(j);
      bestDist = dist;
    }
  }
  return best;
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

// Covers the rules on lists with many ties: the earliest feature wins equal
// distances, polarities never meet, only mutual matches pair, null features
// and features without a descriptor are skipped, stale indices are overwritten.
TEST(FeatureMatchingTest, AgreesWithReferenceOnRandomLists) {
  Random rng(77);
  size_t totalPairs = 0;
  for (int trial = 0; trial < 10; ++trial) {
    std::vector<uint8_t> protos(6 * kDescriptorBytes);
    for (uint8_t& v : protos) v = static_cast<uint8_t>(rng.uniform(256));
    // The first two trials have an empty frame or target list.
    const auto a = randomFeatures(rng, trial == 1 ? 0 : 20 + 37 * trial, protos);
    const auto b = randomFeatures(rng, trial == 0 ? 0 : 10 + 11 * trial, protos);
    for (const auto* list : {&a, &b})
      for (const FeaturePtr& f : *list)
        if (f) f->matchIndex = 7;
    const std::vector<FeaturePtr> pairs = matchFeaturesMutual(a, b);
    std::vector<FeaturePtr> expected;  // mutual nearest neighbours, in target order
    for (size_t i = 0; i < a.size(); ++i) {
      const int32_t j = referenceNearest(a[i], b);
      EXPECT_EQ(a[i] ? a[i]->matchIndex : -1, j) << "trial " << trial << " a " << i;
      if (j >= 0 && referenceNearest(b[j], a) == static_cast<int32_t>(i))
        expected.insert(expected.end(), {a[i], b[j]});
    }
    for (size_t j = 0; j < b.size(); ++j) {
      EXPECT_EQ(b[j] ? b[j]->matchIndex : -1, referenceNearest(b[j], a))
          << "trial " << trial << " b " << j;
      if (!a.empty() && a[0] && a[0]->descriptor && b[j] && b[j]->descriptor) {
        EXPECT_EQ(descriptorSquaredDistance(a[0]->descriptor.get(), b[j]->descriptor.get()),
                  slowSquaredDistance(a[0]->descriptor.get(), b[j]->descriptor.get()));
      }
    }
    EXPECT_EQ(pairs, expected) << "trial " << trial;
    totalPairs += pairs.size() / 2;
  }
  // The lists are built so that many, but not all, features find partners.
  EXPECT_GT(totalPairs, 30u);
}

TEST(FeatureMatchingTest, DistanceLimitIsInclusiveAt300) {
  auto a = makeFeature(0, 100);
  auto exact = makeFeature(0, 100);
  // 36 bytes apart by 50: 36 * 2500 = 90000, distance exactly 300.
  for (int k = 0; k < 36; ++k) exact->descriptor[k] = 150;
  std::vector<FeaturePtr> target = {a};
  std::vector<FeaturePtr> frame = {exact};
  EXPECT_EQ(matchFeaturesMutual(target, frame).size(), 2u);

  exact->descriptor[40] = 101;  // 90001: just beyond
  EXPECT_TRUE(matchFeaturesMutual(target, frame).empty());
  EXPECT_EQ(a->matchIndex, -1);
  EXPECT_EQ(exact->matchIndex, -1);
  // The largest possible distance does not overflow the kernel.
  EXPECT_EQ(descriptorSquaredDistance(makeFeature(0, 255)->descriptor.get(),
                                      makeFeature(0, 0)->descriptor.get()),
            64 * 255 * 255);
}

}  // namespace
}  // namespace vornik
