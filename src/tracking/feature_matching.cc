#include "tracking/feature_matching.h"

#include <cstring>
#include <limits>

namespace vornik {
namespace {

// Descriptors of one polarity packed contiguously, with their list indices.
struct PolarityGroup {
  std::vector<int32_t> indices;
  std::vector<uint8_t> descriptors;
};

void collect(const std::vector<FeaturePtr>& list, uint8_t polarity, PolarityGroup* group) {
  group->indices.clear();
  group->descriptors.clear();
  for (size_t i = 0; i < list.size(); ++i) {
    const Feature* f = list[i].get();
    if (f == nullptr || f->descriptor == nullptr || f->polarity != polarity) continue;
    group->indices.push_back(static_cast<int32_t>(i));
    group->descriptors.insert(group->descriptors.end(), f->descriptor.get(),
                              f->descriptor.get() + kDescriptorBytes);
  }
}

}  // namespace

int32_t descriptorSquaredDistance(const uint8_t* a, const uint8_t* b) {
  // Fixed trip count and 32-bit accumulation: vectorises to multiply-add.
  int32_t sum = 0;
  for (int k = 0; k < kDescriptorBytes; ++k) {
    const int32_t d = static_cast<int32_t>(a[k]) - static_cast<int32_t>(b[k]);
    sum += d * d;
  }
  return sum;
}

std::vector<FeaturePtr> matchFeaturesMutual(const std::vector<FeaturePtr>& target,
                                            const std::vector<FeaturePtr>& frame) {
  for (const FeaturePtr& f : target)
    if (f) f->matchIndex = -1;
  for (const FeaturePtr& f : frame)
    if (f) f->matchIndex = -1;

  bool seen[256] = {};
  for (const FeaturePtr& f : target)
    if (f && f->descriptor) seen[f->polarity] = true;

  // Squared integer distances order exactly like the Euclidean ones, and each
  // distance serves both directions, so one pass per polarity suffices.
  constexpr int32_t kNone = std::numeric_limits<int32_t>::max();
  PolarityGroup groupA;
  PolarityGroup groupB;
  std::vector<int32_t> bestForB;
  std::vector<int32_t> bestDistForB;
  for (int p = 0; p < 256; ++p) {
    if (!seen[p]) continue;
    collect(target, static_cast<uint8_t>(p), &groupA);
    collect(frame, static_cast<uint8_t>(p), &groupB);
    const size_t nb = groupB.indices.size();
    if (nb == 0) continue;
    bestForB.assign(nb, -1);
    bestDistForB.assign(nb, kNone);
    for (size_t ia = 0; ia < groupA.indices.size(); ++ia) {
      const uint8_t* da = groupA.descriptors.data() + ia * kDescriptorBytes;
      int32_t bestDist = kNone;
      int32_t best = -1;
      for (size_t ib = 0; ib < nb; ++ib) {
        const int32_t d =
            descriptorSquaredDistance(da, groupB.descriptors.data() + ib * kDescriptorBytes);
        if (d > kMaxMatchSquaredDistance) continue;
        if (d < bestDist) {
          bestDist = d;
          best = static_cast<int32_t>(ib);
        }
        if (d < bestDistForB[ib]) {
          bestDistForB[ib] = d;
          bestForB[ib] = static_cast<int32_t>(ia);
        }
      }
      if (best >= 0) target[groupA.indices[ia]]->matchIndex = groupB.indices[best];
    }
    for (size_t ib = 0; ib < nb; ++ib)
      if (bestForB[ib] >= 0) frame[groupB.indices[ib]]->matchIndex = groupA.indices[bestForB[ib]];
  }

  std::vector<FeaturePtr> pairs;
  for (size_t i = 0; i < target.size(); ++i) {
    const FeaturePtr& a = target[i];
    if (!a || a->matchIndex < 0) continue;
    const FeaturePtr& b = frame[a->matchIndex];
    if (b->matchIndex == static_cast<int32_t>(i)) {
      pairs.push_back(a);
      pairs.push_back(b);
    }
  }
  return pairs;
}

}  // namespace vornik
