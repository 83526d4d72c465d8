#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "features/frame.h"
#include "tracking/keyframe.h"
#include "tracking/least_squares6.h"
#include "tracking/pose_types.h"

namespace vornik {

// Projects every track point of the keyframe into the frame's base level
// with `pose`, and chooses each point's search level (one of base - 1, base,
// base + 1, from how much the projection scales the keyframe around it) and
// its template warp. Resets the in-image, searched, found and inlier flags.
// `keyframeLevelRange` > 0 keeps points whose scale lies up to that many
// levels further off: their templates come from a coarser (or finer)
// keyframe level instead, and the search level stays within one step.
void prepareTrackPoints(Keyframe& keyframe, const Frame& frame, const Mat44f& pose,
                        int32_t keyframeLevelRange = 0);

// Largest useful keyframe level range: a keyframe has at most six levels.
constexpr int32_t kMaxKeyframeLevelRange = 3;
constexpr int32_t kMaxSearchThreads = 3;

// Derivatives of the point's projection at a level with focal length
// `focal` (pixels of that level per plane unit) with respect to the six
// pose-update components, from its camera position.
void computeJacobians(TrackPoint& point, float focal);
// The same one component at a time: the reference the vector form matches
// bit for bit.
void computeJacobiansPlain(TrackPoint& point, float focal);

// Frame-to-frame refinement of a target pose: patch search around the
// projections of a predicted pose, then robust Gauss-Newton on SE(3), first
// on a coarse level with few points, then on the search levels with more.
// Holds the working storage of the pose update, so each tracker owns one.
class ProgressiveTracking {
 public:
  static constexpr int32_t kCoarsePoints = 35;
  static constexpr int32_t kFinePoints = 70;
  static constexpr int32_t kMinCoarseFound = 15;
  static constexpr int32_t kMinCoarseInliers = 8;
  static constexpr int32_t kMaxCoarseBatches = 4;

  // Extra keyframe levels a point may take its template from (see
  // prepareTrackPoints); 0, the default, keeps every search within one level.
  void setKeyframeLevelRange(int32_t levels) {
    keyframeLevelRange_ =
        levels < 0 ? 0 : (levels > kMaxKeyframeLevelRange ? kMaxKeyframeLevelRange : levels);
  }
  int32_t keyframeLevelRange() const { return keyframeLevelRange_; }

  // Worker threads of the steady state's coarse search, 0 .. kMaxSearchThreads
  // (3, the default); 0 searches on the calling thread, as does any setting
  // in a process that may run on one processor only.
  void setSearchThreads(int32_t threads) {
    searchThreads_ = threads < 0 ? 0 : (threads > kMaxSearchThreads ? kMaxSearchThreads : threads);
  }

  // With it, the keyframe matches that the coarse stage found one level up
  // are searched again on their own levels, around where the coarse pose
  // puts them, before the fine stage: the search one level up catches twice
  // the motion, but its matches are half as precise, and they are what
  // holds the pose to the keyframe. Off by default.
  void setCoarseRefinement(bool enabled) { coarseRefinement_ = enabled; }

  // Batches of kCoarsePoints that the coarse stage may search, 1 (the
  // default) .. kMaxCoarseBatches: while fewer than kMinCoarseFound points
  // are found, the next batch of the keyframe's points in the image is
  // searched as well. Where part of the target is covered, or a far and
  // blurred target keeps matches for only every other point, the first
  // batch alone falls short.
  void setCoarseBatches(int32_t batches) {
    coarseBatches_ = batches < 1 ? 1 : (batches > kMaxCoarseBatches ? kMaxCoarseBatches : batches);
  }

  // With fewer coarse inliers than this, the steady state's fine stage
  // takes its templates from the keyframe, as the first frame's does,
  // instead of the previous frame. 0 (the default) never does.
  void setKeyframeFineBelow(int32_t inliers) {
    keyframeFineBelow_ = inliers < 0 ? 0 : (inliers > kCoarsePoints ? kCoarsePoints : inliers);
  }

  // Templates from the keyframe only: the first frame after an initial pose.
  bool trackFromKeyframe(Keyframe& keyframe, const Frame& frame, const Mat44f& predictedPose,
                         Mat44f* pose, float* error);

  // Steady state: coarse templates from the keyframe (searched on the
  // search threads), fine templates from `previous`, the last tracked frame, where
  // `previousPose` put the target.
  bool trackFromPreviousFrame(Keyframe& keyframe, const Frame& previous, const Mat44f& previousPose,
                              const Frame& frame, const Mat44f& predictedPose, Mat44f* pose,
                              float* error);

  // One Tukey-weighted Gauss-Newton step over the found points. A fixed
  // squared scale of 0 or less estimates it from the median squared error.
  // Sets the points' errors, weights and inlier flags.
  SixVector computePoseUpdate(const std::vector<TrackPoint*>& points, float fixedScale2,
                              float* meanSquaredError, int32_t* inlierCount);

 private:
  enum class Stage { kCoarse, kFine };
  // Ten update iterations of `pose` on `points`; returns the last inlier count.
  int32_t iteratePose(Stage stage, const std::vector<TrackPoint*>& points, const Frame& frame,
                      Mat44f* pose, float* meanSquaredError);
  // Selects the coarse set batch by batch and searches it (on `threads`
  // workers, 0 = this thread); returns the number found.
  int32_t searchCoarseSet(Keyframe& keyframe, const Frame& frame, int32_t threads);
  // The next up to kCoarsePoints points in the image from coarseWalk_ on,
  // into coarseBatch_ and appended to coarseSet_.
  void selectCoarseBatch(Keyframe& keyframe, const Frame& frame);
  // With `previousFrameLevel` >= 0, joining points search on that level.
  void selectFineSet(Keyframe& keyframe, const Frame& frame, const Mat44f& pose,
                     int32_t previousFrameLevel);
  // Searches the raised inliers of the coarse set again on their own
  // levels, from where `pose` projects them; a point not found there keeps
  // its match one level up.
  void refineCoarseSet(Keyframe& keyframe, const Frame& frame, const Mat44f& pose);
  void buildIterationSet();

  int32_t keyframeLevelRange_ = 0;
  bool coarseRefinement_ = false;
  int32_t coarseBatches_ = 1;
  int32_t keyframeFineBelow_ = 0;
  int32_t searchThreads_ = kMaxSearchThreads;
  LeastSquares6 system_;
  std::vector<float> squaredErrors_;
  std::vector<LeastSquares6::Measurement> measurements_;
  SixVector lastUpdate_;
  std::vector<TrackPoint*> coarseSet_;
  std::vector<TrackPoint*> coarseBatch_;
  size_t coarseWalk_ = 0;               // next keyframe point the coarse selection looks at
  std::vector<TrackPoint*> raisedSet_;  // coarse points searched one level up
  std::vector<TrackPoint*> refinedSet_;
  std::vector<std::array<float, 2>> raisedMatches_;  // refinedSet_'s matches one level up
  std::vector<TrackPoint*> fineSet_;
  std::vector<TrackPoint*> iterationSet_;
};

}  // namespace vornik
