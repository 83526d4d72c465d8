#include "builder/tracking_training.h"

#include <algorithm>
#include <cmath>

namespace vornik {

namespace {

// A match is correct when the frame feature lies within this share of the
// target's width in the frame (at least kMinCorrectPixels) from where the
// candidate projects: about what the initial pose's RANSAC threshold allows
// after its normalisation, so a looser match would be an outlier there.
constexpr double kCorrectMatchShare = 0.015;
constexpr double kMinCorrectPixels = 2.0;
// Candidates closer than this (target pixels) with descriptors nearer than
// kDuplicateDistance are one feature seen twice.
constexpr double kDuplicatePixels = 3.0;
constexpr int32_t kDuplicateSquaredDistance = 100 * 100;
// Unproven candidates fill the list up to this many.
constexpr int kMinimumRecords = 150;

int32_t squaredDistance(const uint8_t* a, const uint8_t* b) {
  int32_t sum = 0;
  for (int i = 0; i < kDescriptorBytes; ++i) {
    const int32_t d = static_cast<int32_t>(a[i]) - b[i];
    sum += d * d;
  }
  return sum;
}

std::vector<int32_t> nearestNeighbours(const std::vector<const uint8_t*>& from,
                                       const std::vector<uint8_t>& fromPolarity,
                                       const std::vector<const uint8_t*>& to,
                                       const std::vector<uint8_t>& toPolarity) {
  std::vector<int32_t> nearest(from.size(), -1);
  for (size_t i = 0; i < from.size(); ++i) {
    int32_t best = kMaxMatchSquaredDistance + 1;
    for (size_t j = 0; j < to.size(); ++j) {
      if (toPolarity[j] != fromPolarity[i]) continue;
      const int32_t d = squaredDistance(from[i], to[j]);
      if (d < best) {
        best = d;
        nearest[i] = static_cast<int32_t>(j);
      }
    }
  }
  return nearest;
}

int32_t roundToInt(double v) { return static_cast<int32_t>(std::lround(v)); }

}  // namespace

std::vector<std::pair<int32_t, int32_t>> mutualMatches(
    const std::vector<const uint8_t*>& descriptorsA, const std::vector<uint8_t>& polaritiesA,
    const std::vector<const uint8_t*>& descriptorsB, const std::vector<uint8_t>& polaritiesB) {
  const std::vector<int32_t> ab =
      nearestNeighbours(descriptorsA, polaritiesA, descriptorsB, polaritiesB);
  const std::vector<int32_t> ba =
      nearestNeighbours(descriptorsB, polaritiesB, descriptorsA, polaritiesA);
  std::vector<std::pair<int32_t, int32_t>> pairs;
  for (size_t i = 0; i < ab.size(); ++i) {
    if (ab[i] >= 0 && ba[ab[i]] == static_cast<int32_t>(i)) {
      pairs.emplace_back(static_cast<int32_t>(i), ab[i]);
    }
  }
  return pairs;
}

TrackingTrainer::TrackingTrainer(int targetWidth, int targetHeight)
    : targetWidth_(targetWidth), targetHeight_(targetHeight) {}

void TrackingTrainer::addCandidates(const std::vector<FeaturePtr>& features,
                                    const Homography& frameToTarget) {
  const size_t before = candidates_.size();
  for (const FeaturePtr& f : features) {
    if (!f->descriptor) continue;
    double tx, ty;
    if (!applyHomography(frameToTarget, f->x, f->y, &tx, &ty)) continue;
    if (tx < 0.0 || ty < 0.0 || tx > targetWidth_ - 1.0 || ty > targetHeight_ - 1.0) continue;
    TrackingRecord r;
    r.layer = f->layer;
    r.polarity = f->polarity;
    r.x = roundToInt(tx) - (targetWidth_ >> 1);
    r.y = (targetHeight_ >> 1) - roundToInt(ty);
    std::copy(f->descriptor.get(), f->descriptor.get() + kDescriptorBytes, r.descriptor.begin());
    bool duplicate = false;
    for (size_t i = 0; i < before && !duplicate; ++i) {
      const TrackingRecord& c = candidates_[i];
      duplicate =
          c.polarity == r.polarity && std::hypot(c.x - r.x, c.y - r.y) <= kDuplicatePixels &&
          squaredDistance(c.descriptor.data(), r.descriptor.data()) < kDuplicateSquaredDistance;
    }
    if (!duplicate) {
      candidates_.push_back(r);
      positions_.emplace_back();
      addSighting(candidates_.size() - 1, frameToTarget, f->x, f->y);
    }
  }
}

void TrackingTrainer::addSighting(size_t candidate, const Homography& frameToTarget, double fx,
                                  double fy) {
  double tx, ty;
  if (!applyHomography(frameToTarget, fx, fy, &tx, &ty)) return;
  // Target pixels per frame pixel: the position error grows with it.
  const double spread = localMagnification(frameToTarget, fx, fy);
  if (!(spread > 0.0)) return;
  const double weight = 1.0 / (spread * spread);
  PositionSum& p = positions_[candidate];
  p.x += weight * tx;
  p.y += weight * ty;
  p.weight += weight;
}

TrackingRecord TrackingTrainer::refined(size_t candidate) const {
  TrackingRecord r = candidates_[candidate];
  const PositionSum& p = positions_[candidate];
  if (p.weight > 0.0) {
    r.x = roundToInt(p.x / p.weight) - (targetWidth_ >> 1);
    r.y = (targetHeight_ >> 1) - roundToInt(p.y / p.weight);
  }
  return r;
}

void TrackingTrainer::addView(const std::vector<FeaturePtr>& features,
                              const Homography& frameToTarget, const Homography& targetToFrame) {
  std::vector<const uint8_t*> candidateDescriptors;
  std::vector<uint8_t> candidatePolarities;
  for (const TrackingRecord& c : candidates_) {
    candidateDescriptors.push_back(c.descriptor.data());
    candidatePolarities.push_back(c.polarity);
  }
  std::vector<const uint8_t*> frameDescriptors;
  std::vector<uint8_t> framePolarities;
  std::vector<const Feature*> frameFeatures;
  for (const FeaturePtr& f : features) {
    if (!f->descriptor) continue;
    frameDescriptors.push_back(f->descriptor.get());
    framePolarities.push_back(f->polarity);
    frameFeatures.push_back(f.get());
  }
  const auto pairs =
      mutualMatches(candidateDescriptors, candidatePolarities, frameDescriptors, framePolarities);
  int32_t correct = 0;
  for (const auto& [ci, fi] : pairs) {
    TrackingRecord& c = candidates_[ci];
    const Feature& f = *frameFeatures[fi];
    double u, v;
    const double tx = c.x + (targetWidth_ >> 1);
    const double ty = (targetHeight_ >> 1) - c.y;
    const double tolerance =
        std::max(kMinCorrectPixels,
                 kCorrectMatchShare * targetWidth_ * localMagnification(targetToFrame, tx, ty));
    if (applyHomography(targetToFrame, tx, ty, &u, &v) &&
        std::hypot(u - f.x, v - f.y) <= tolerance) {
      ++c.hits;
      ++correct;
      addSighting(ci, frameToTarget, f.x, f.y);
    } else {
      ++c.misses;
    }
  }
  ++views_;
  if (correct >= kInitialPoseMinPairs && 2 * correct >= static_cast<int32_t>(pairs.size())) {
    ++goodViews_;
  }
}

std::vector<TrackingRecord> TrackingTrainer::select(int maxCount) const {
  std::vector<size_t> proven;
  std::vector<size_t> unproven;
  for (size_t i = 0; i < candidates_.size(); ++i) {
    const TrackingRecord& c = candidates_[i];
    if (views_ == 0 || c.hits == 0) {
      if (c.misses == 0) unproven.push_back(i);
    } else if (c.hits > c.misses) {
      proven.push_back(i);
    }
  }
  std::stable_sort(proven.begin(), proven.end(), [&](size_t a, size_t b) {
    return candidates_[a].hits - candidates_[a].misses >
           candidates_[b].hits - candidates_[b].misses;
  });
  std::vector<TrackingRecord> out;
  for (size_t i : proven) {
    if (static_cast<int>(out.size()) >= maxCount) break;
    out.push_back(refined(i));
  }
  const int fillTo = views_ == 0 ? maxCount : std::min(maxCount, kMinimumRecords);
  for (size_t i : unproven) {
    if (static_cast<int>(out.size()) >= fillTo) break;
    out.push_back(refined(i));
  }
  return out;
}

double TrackingTrainer::recall() const {
  return views_ > 0 ? static_cast<double>(goodViews_) / views_ : 0.0;
}

}  // namespace vornik
