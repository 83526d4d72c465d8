#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "builder/view_homography.h"
#include "features/feature.h"
#include "tracking/feature_matching.h"
#include "tracking/initial_pose.h"

namespace vornik {

// One record of a tracking-feature entry.
struct TrackingRecord {
  int32_t layer = 0;
  uint8_t polarity = 0;
  int32_t x = 0;  // target pixels from the image centre, right
  int32_t y = 0;  // target pixels from the image centre, up
  std::array<uint8_t, kDescriptorBytes> descriptor{};
  int32_t hits = 0;    // training views with a correct mutual match
  int32_t misses = 0;  // training views with a wrong mutual match
};

// Index pairs (a, b) of mutual nearest neighbours between two described
// lists, exactly as the tracker's matcher pairs them: equal polarity,
// Euclidean byte distance at most 300, first of equal distances.
std::vector<std::pair<int32_t, int32_t>> mutualMatches(
    const std::vector<const uint8_t*>& descriptorsA, const std::vector<uint8_t>& polaritiesA,
    const std::vector<const uint8_t*>& descriptorsB, const std::vector<uint8_t>& polaritiesB);

// Gathers tracking candidates from clean views and scores them by how the
// tracker's mutual matching treats them in training views.
class TrackingTrainer {
 public:
  TrackingTrainer(int targetWidth, int targetHeight);

  // Described frame features of a clean view become candidates (mapped to
  // target pixels); near duplicates of existing candidates are dropped.
  void addCandidates(const std::vector<FeaturePtr>& features, const Homography& frameToTarget);

  // A training view: matches the frame features against all candidates and
  // counts, per candidate, correct and wrong mutual matches. Correct matches
  // also refine the candidate's position: the stored position is the mean of
  // all its sightings, each weighted by how finely its view resolves the
  // target.
  void addView(const std::vector<FeaturePtr>& features, const Homography& frameToTarget,
               const Homography& targetToFrame);

  // Candidates with more correct than wrong matches first (by hits minus
  // misses), then (with too few of those) unproven candidates in the order
  // found, at most `maxCount`. Without training views: the candidates in the
  // order found.
  std::vector<TrackingRecord> select(int maxCount) const;

  // Share of training views that gave at least 17 correct mutual matches
  // against all candidates, and no fewer correct than wrong ones.
  double recall() const;

  size_t candidateCount() const { return candidates_.size(); }

 private:
  int targetWidth_;
  int targetHeight_;
  struct PositionSum {
    double x = 0.0;  // weighted sums of target pixel positions
    double y = 0.0;
    double weight = 0.0;
  };
  void addSighting(size_t candidate, const Homography& frameToTarget, double fx, double fy);
  TrackingRecord refined(size_t candidate) const;

  std::vector<TrackingRecord> candidates_;
  std::vector<PositionSum> positions_;
  int32_t views_ = 0;
  int32_t goodViews_ = 0;
};

}  // namespace vornik
