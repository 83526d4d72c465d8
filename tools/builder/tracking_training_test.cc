#include "builder/tracking_training.h"

#include <gtest/gtest.h>

#include <tuple>

#include "features/random.h"
#include "tracking/feature_matching.h"

namespace vornik {
namespace {

FeaturePtr feature(int x, int y, uint8_t polarity, const std::array<uint8_t, 64>& d,
                   int layer = 0) {
  auto f = std::make_shared<Feature>();
  f->x = x;
  f->y = y;
  f->polarity = polarity;
  f->layer = layer;
  f->descriptor.reset(new uint8_t[64]);
  std::copy(d.begin(), d.end(), f->descriptor.get());
  return f;
}

std::array<uint8_t, 64> randomDescriptor(Random& random, int centre, int spread) {
  std::array<uint8_t, 64> d;
  for (uint8_t& v : d) v = static_cast<uint8_t>(centre + static_cast<int>(random.uniform(spread)));
  return d;
}

TEST(MutualMatches, PairsExactlyAsTheTrackersMatcher) {
  Random random(3);
  // Narrow descriptor ranges, so that distances fall on both sides of 300
  // and ties occur.
  for (int round = 0; round < 20; ++round) {
    std::vector<FeaturePtr> a, b;
    for (int i = 0; i < 40; ++i)
      a.push_back(feature(i, 0, random.uniform(2), randomDescriptor(random, 100, 90)));
    for (int i = 0; i < 35; ++i)
      b.push_back(feature(i, 0, random.uniform(2), randomDescriptor(random, 100, 90)));
    b.push_back(b[3]);  // an exact duplicate: the first of equal distances wins

    std::vector<const uint8_t*> da, db;
    std::vector<uint8_t> pa, pb;
    for (const auto& [features, d, p] : {std::tie(a, da, pa), std::tie(b, db, pb)}) {
      for (const auto& f : features) {
        d.push_back(f->descriptor.get());
        p.push_back(f->polarity);
      }
    }
    const auto ours = mutualMatches(da, pa, db, pb);
    const auto reference = matchFeaturesMutual(a, b);
    ASSERT_EQ(ours.size() * 2, reference.size());
    for (size_t i = 0; i < ours.size(); ++i) {
      EXPECT_EQ(a[ours[i].first], reference[2 * i]);
      EXPECT_EQ(b[ours[i].second], reference[2 * i + 1]);
    }
  }
}

TEST(TrackingTrainer, StoresCentredPositionsAndRanksByCorrectMatches) {
  // The frame shows a 200 x 100 target pixel for pixel.
  const Homography identity{1, 0, 0, 0, 1, 0, 0, 0, 1};
  Random random(11);
  const auto d1 = randomDescriptor(random, 0, 255);
  const auto d2 = randomDescriptor(random, 0, 255);
  const auto d3 = randomDescriptor(random, 0, 255);
  TrackingTrainer trainer(200, 100);
  trainer.addCandidates({feature(50, 50, 0, d1), feature(150, 20, 1, d2), feature(10, 90, 0, d3),
                         feature(250, 50, 0, d2)},  // off the target: dropped
                        identity);
  // A second clean view sees the first feature again: dropped.
  trainer.addCandidates({feature(51, 51, 0, d1)}, identity);
  ASSERT_EQ(trainer.candidateCount(), 3u);

  // (x, y, polarity, hits) of the selected records.
  const auto selected = [&trainer] {
    std::vector<std::array<int, 4>> out;
    for (const TrackingRecord& r : trainer.select(10))
      out.push_back({r.x, r.y, r.polarity, r.hits});
    return out;
  };
  // Untrained: candidates in the order found, centred, y up.
  EXPECT_EQ(selected(),
            (std::vector<std::array<int, 4>>{{-50, 0, 0, 0}, {50, 30, 1, 0}, {-90, -40, 0, 0}}));

  // d1 is matched where it belongs twice; d2 is matched far from its place;
  // d3 once in place. Positions are refined to the mean of the sightings:
  // x 50, 52, 50 and y 50, 49, 50 for d1.
  trainer.addView({feature(52, 49, 0, d1), feature(100, 80, 1, d2)}, identity, identity);
  trainer.addView({feature(50, 50, 0, d1), feature(10, 90, 0, d3)}, identity, identity);
  EXPECT_EQ(selected(), (std::vector<std::array<int, 4>>{{-49, 0, 0, 2}, {-90, -40, 0, 1}}));
  EXPECT_EQ(trainer.select(1).size(), 1u);
  EXPECT_EQ(trainer.recall(), 0.0);  // never 17 correct matches
}

}  // namespace
}  // namespace vornik
