#include "tracking/progressive_tracking.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define VORNIK_JACOBIANS_SSE 1
#endif

#include "features/pyramid_coordinates.h"
#include "manager/profiler.h"
#include "platform/threads.h"
#include "tracking/patch_search.h"
#include "tracking/se3.h"

namespace vornik {
namespace {

constexpr int32_t kPoseIterations = 10;
constexpr int32_t kLastEstimatedScaleIteration = 5;
constexpr float kFixedScale2 = 1.0f;
constexpr float kPosePrior = 100.0f;
constexpr int32_t kCoarseRadius = 15;
constexpr int32_t kCoarseSubpixelIterations = 5;
constexpr int32_t kFineRadius = 3;

bool relinearisedInFineStage(int32_t iteration) {
  return iteration == 0 || iteration == 4 || iteration == 9;
}

// Camera, normalised and projected position at the point's search level.
bool reproject(TrackPoint& point, const Frame& frame, const Mat44f& pose) {
  if (frame.getLevel(point.searchLevel) == nullptr) return false;
  const GrayImage* full = frame.getLevel(0);
  projectPlanePoint(pose, point.corner->X, point.corner->Y, full->width, full->height,
                    point.searchLevel, point.camera, point.normalized, point.projected);
  return true;
}

float searchLevelFocal(const TrackPoint& point, const Frame& frame) {
  if (frame.getLevel(point.searchLevel) == nullptr) return 0.0f;
  return levelUnit(frame.getLevel(0)->width, point.searchLevel);
}

// A fine stage without found points (its mean squared error is not a
// number) or without a single inlier at the end has not measured the pose.
bool fineStageMeasured(const std::vector<TrackPoint*>& points, int32_t inliers) {
  const bool anyFound =
      std::any_of(points.begin(), points.end(), [](const TrackPoint* p) { return p->isFound; });
  if (!anyFound) {
    std::printf("fail due to no found point in the fine stage\n");
    return false;
  }
  if (inliers == 0) {
    std::printf("fail due to no inlier in the fine stage\n");
    return false;
  }
  return true;
}

}  // namespace

void prepareTrackPoints(Keyframe& keyframe, const Frame& frame, const Mat44f& pose,
                        int32_t keyframeLevelRange) {
  const int32_t keyLevel = trackingBaseLevel(keyframe);
  const int32_t frameLevel = trackingBaseLevel(frame);
  const GrayImage* key = keyframe.getLevel(keyLevel);
  const GrayImage* base = frame.getLevel(frameLevel);
  // Level 0 exists whenever a base level does.
  const GrayImage* keyFull = keyframe.getLevel(0);
  const GrayImage* frameFull = frame.getLevel(0);
  for (TrackPoint& point : keyframe.trackPoints) {
    point.inImage = false;
    point.searched = false;
    point.isFound = false;
    point.inlier = false;
    point.sourceLevel = keyLevel;
    point.searchLevel = frameLevel;
    point.sourceShift = 0;
    if (key == nullptr || base == nullptr || point.corner == nullptr) continue;
    const int32_t kw = keyFull->width;
    const int32_t kh = keyFull->height;
    float pixels[3][2];
    const int32_t steps[3][2] = {{0, 0}, {1, 0}, {0, 1}};
    for (int i = 0; i < 3; ++i) {
      const float x = static_cast<float>(point.corner->x + steps[i][0]);
      const float y = static_cast<float>(point.corner->y + steps[i][1]);
      const float X = levelToUnit(x, keyLevel, kw, kw);
      const float Y = -levelToUnit(y, keyLevel, kh, kw);
      float camera[3];
      float normalized[2];
      projectPlanePoint(pose, X, Y, frameFull->width, frameFull->height, frameLevel, camera,
                        normalized, pixels[i]);
      if (i == 0) {
        std::copy(camera, camera + 3, point.camera);
        std::copy(normalized, normalized + 2, point.normalized);
        std::copy(pixels[0], pixels[0] + 2, point.projected);
      }
    }
    const float d00 = pixels[1][0] - pixels[0][0];
    const float d01 = pixels[2][0] - pixels[0][0];
    const float d10 = pixels[1][1] - pixels[0][1];
    const float d11 = pixels[2][1] - pixels[0][1];
    float det = d00 * d11 - d01 * d10;
    // A degenerate (zero or not finite) determinant would never leave the
    // scaling loops below; such a point is not usable anyway.
    if (!(det > 0.0f) || !std::isfinite(det)) continue;
    int32_t k = 0;
    // Levels beyond reach are rejected below, so the loops stop there.
    const int32_t reach = 1 + keyframeLevelRange;
    if (det <= 1.0f) {
      while (det < 0.25f && k > -reach - 1) {
        det *= 4.0f;
        --k;
      }
    } else {
      while (det > 3.0f && k < reach + 1) {
        det *= 0.25f;
        ++k;
      }
    }
    if (k < -reach || k > reach) continue;
    // Beyond one step, the template comes from a keyframe level as many steps
    // coarser (a far target) or finer (a near one), so that the search level
    // stays within one step of the frame's base. The warp is the same: both
    // levels move, the scale between them does not.
    const int32_t shift = k < -1 ? -1 - k : (k > 1 ? 1 - k : 0);
    const int32_t searchOffset = k + shift;
    // A level either pyramid does not have counts as outside the image.
    if (frame.getLevel(frameLevel + searchOffset) == nullptr ||
        keyframe.getLevel(keyLevel + shift) == nullptr) {
      continue;
    }
    const float margin = 4.0f * std::ldexp(1.0f, searchOffset);
    const float u = point.projected[0];
    const float v = point.projected[1];
    if (!(u >= margin && u <= base->width - 1 - margin && v >= margin &&
          v <= base->height - 1 - margin)) {
      continue;
    }
    point.inImage = true;
    point.searchLevel = frameLevel + searchOffset;
    point.sourceLevel = keyLevel + shift;
    point.sourceShift = shift;
    const float scale = std::ldexp(1.0f, -k) / std::fabs(det);
    point.warp[0] = scale * d11;
    point.warp[1] = -scale * d01;
    point.warp[2] = -scale * d10;
    point.warp[3] = scale * d00;
  }
}

void computeJacobians(TrackPoint& point, float focal) {
#if VORNIK_JACOBIANS_SSE
  // The plain form's operations lane by lane, components 0-3 and 4-5 (and
  // two unused lanes) of u and v at once: four divisions instead of 24.
  const float X = point.camera[0];
  const float Y = point.camera[1];
  const float Z = point.camera[2];
  const __m128 x = _mm_set1_ps(X), y = _mm_set1_ps(Y), z = _mm_set1_ps(Z);
  const __m128 w = _mm_set1_ps(focal);
  auto row = [&](__m128 g, __m128 gz, __m128 p) {
    return _mm_div_ps(_mm_mul_ps(_mm_sub_ps(g, _mm_div_ps(_mm_mul_ps(p, gz), z)), w), z);
  };
  const __m128 gzLow = _mm_setr_ps(0.0f, 0.0f, 1.0f, Y);
  const __m128 gzHigh = _mm_setr_ps(-X, 0.0f, 0.0f, 0.0f);
  alignas(16) float u[8], v[8];
  _mm_store_ps(u, row(_mm_setr_ps(1.0f, 0.0f, 0.0f, 0.0f), gzLow, x));
  _mm_store_ps(u + 4, row(_mm_setr_ps(Z, -Y, 0.0f, 0.0f), gzHigh, x));
  _mm_store_ps(v, row(_mm_setr_ps(0.0f, 1.0f, 0.0f, -Z), gzLow, y));
  _mm_store_ps(v + 4, row(_mm_setr_ps(0.0f, X, 0.0f, 0.0f), gzHigh, y));
  for (int j = 0; j < 6; ++j) {
    point.jacobianU[j] = u[j];
    point.jacobianV[j] = v[j];
  }
#else
  computeJacobiansPlain(point, focal);
#endif
}

void computeJacobiansPlain(TrackPoint& point, float focal) {
  const float X = point.camera[0];
  const float Y = point.camera[1];
  const float Z = point.camera[2];
  const float w = focal;
  // Motion of the point for each update component: translations, then
  // rotations about x, y and z (e_j x P).
  const float g[6][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, -Z, Y}, {Z, 0, -X}, {-Y, X, 0}};
  for (int j = 0; j < 6; ++j) {
    point.jacobianU[j] = (g[j][0] - X * g[j][2] / Z) * w / Z;
    point.jacobianV[j] = (g[j][1] - Y * g[j][2] / Z) * w / Z;
  }
}

SixVector ProgressiveTracking::computePoseUpdate(const std::vector<TrackPoint*>& points,
                                                 float fixedScale2, float* meanSquaredError,
                                                 int32_t* inlierCount) {
  squaredErrors_.clear();
  float sum = 0.0f;
  for (TrackPoint* point : points) {
    if (!point->isFound) continue;
    point->weight = 1.0f;
    point->error[0] = point->found[0] - point->projected[0];
    point->error[1] = point->found[1] - point->projected[1];
    point->squaredError = point->error[0] * point->error[0] + point->error[1] * point->error[1];
    squaredErrors_.push_back(point->squaredError);
    sum += point->squaredError;
  }
  const int32_t count = static_cast<int32_t>(squaredErrors_.size());
  *meanSquaredError =
      count > 0 ? sum / static_cast<float>(count) : std::numeric_limits<float>::quiet_NaN();
  *inlierCount = 0;
  if (count == 0) return SixVector();

  float scale2 = fixedScale2;
  if (scale2 <= 0.0f) {
    if (count == 5) {
      // The small-sample factor 5 / (count - 5) is infinite: every point counts.
      scale2 = std::numeric_limits<float>::infinity();
    } else {
      auto middle = squaredErrors_.begin() + count / 2;
      std::nth_element(squaredErrors_.begin(), middle, squaredErrors_.end());
      const float sigma = std::sqrt(*middle) * (1.4826f + 5.0f / static_cast<float>(count - 5));
      scale2 = sigma * sigma;
    }
  }

  system_.clear(0.0f);
  system_.addToDiagonal(kPosePrior);
  measurements_.clear();
  for (TrackPoint* point : points) {
    if (!point->isFound) continue;
    const float e2 = point->squaredError;
    float w = 0.0f;
    if (e2 <= scale2) w = scale2 > 0.0f ? 1.0f - e2 / scale2 : 1.0f;
    point->weight = w * w;
    if (point->weight == 0.0f) {
      point->inlier = false;
      continue;
    }
    point->inlier = true;
    ++*inlierCount;
    measurements_.push_back({point->error[0], point->weight, point->jacobianU});
    measurements_.push_back({point->error[1], point->weight, point->jacobianV});
  }
  system_.addMeasurements(measurements_.data(), static_cast<int>(measurements_.size()));
  system_.solve();
  return system_.solution();
}

int32_t ProgressiveTracking::iteratePose(Stage stage, const std::vector<TrackPoint*>& points,
                                         const Frame& frame, Mat44f* pose,
                                         float* meanSquaredError) {
  int32_t inliers = 0;
  for (int32_t i = 0; i < kPoseIterations; ++i) {
    const bool relinearise = stage == Stage::kCoarse || relinearisedInFineStage(i);
    for (TrackPoint* point : points) {
      if (!point->isFound) continue;
      if (relinearise) {
        if (stage == Stage::kFine || i > 0) reproject(*point, frame, *pose);
        computeJacobians(*point, searchLevelFocal(*point, frame));
      } else {
        for (int j = 0; j < 6; ++j) {
          point->projected[0] += point->jacobianU[j] * lastUpdate_[j];
          point->projected[1] += point->jacobianV[j] * lastUpdate_[j];
        }
      }
    }
    const float scale2 = i > kLastEstimatedScaleIteration ? kFixedScale2 : 0.0f;
    const SixVector update = computePoseUpdate(points, scale2, meanSquaredError, &inliers);
    *pose = se3Exp(update) * *pose;
    if (stage == Stage::kFine) lastUpdate_ = update;
  }
  return inliers;
}

int32_t ProgressiveTracking::searchCoarseSet(Keyframe& keyframe, const Frame& frame,
                                             int32_t threads) {
  coarseSet_.clear();
  raisedSet_.clear();
  coarseWalk_ = 0;
  int32_t found = 0;
  for (int32_t batch = 0; batch < coarseBatches_; ++batch) {
    if (batch > 0 && found >= kMinCoarseFound) break;
    selectCoarseBatch(keyframe, frame);
    if (coarseBatch_.empty()) break;
    found += threads > 0
                 ? searchPointsInKeyframeThreaded(keyframe, coarseBatch_, frame, kCoarseRadius,
                                                  kCoarseSubpixelIterations, threads)
                 : searchPointsInKeyframe(keyframe, coarseBatch_, frame, kCoarseRadius,
                                          kCoarseSubpixelIterations);
  }
  return found;
}

void ProgressiveTracking::selectCoarseBatch(Keyframe& keyframe, const Frame& frame) {
  coarseBatch_.clear();
  std::vector<TrackPoint>& points = keyframe.trackPoints;
  for (; coarseWalk_ < points.size(); ++coarseWalk_) {
    if (static_cast<int32_t>(coarseBatch_.size()) >= kCoarsePoints) break;
    TrackPoint& point = points[coarseWalk_];
    if (!point.inImage) {
      point.searched = false;
      continue;
    }
    // Without both levels one step up the point is left to the fine set.
    // A far point, whose template already comes from a coarser keyframe
    // level, is searched on its own levels: one step up the target would
    // span too few pixels for a precise match (on a receding view with
    // camera blur the corner errors doubled there).
    const bool far = point.sourceShift > 0;
    const bool raise = !far && keyframe.getLevel(point.sourceLevel + 1) != nullptr &&
                       frame.getLevel(point.searchLevel + 1) != nullptr;
    if (!raise && !far) {
      point.searched = false;
      continue;
    }
    point.searched = true;
    if (raise) {
      ++point.sourceLevel;
      ++point.searchLevel;
      raisedSet_.push_back(&point);
    }
    coarseBatch_.push_back(&point);
  }
  coarseSet_.insert(coarseSet_.end(), coarseBatch_.begin(), coarseBatch_.end());
}

void ProgressiveTracking::refineCoarseSet(Keyframe& keyframe, const Frame& frame,
                                          const Mat44f& pose) {
  std::vector<TrackPoint*>& refined = refinedSet_;
  refined.clear();
  raisedMatches_.clear();
  for (TrackPoint* point : raisedSet_) {
    // Only matches the coarse pose agreed with; the others stay out of the
    // fine stage as before.
    if (!point->isFound || !point->inlier) continue;
    raisedMatches_.push_back({point->found[0], point->found[1]});
    --point->sourceLevel;
    --point->searchLevel;
    reproject(*point, frame, pose);
    refined.push_back(point);
  }
  searchPointsInKeyframe(keyframe, refined, frame, kFineRadius, kCoarseSubpixelIterations);
  // Where the own level gives no match (blur takes the finer levels first),
  // the match one level up still holds the pose to the keyframe.
  for (size_t i = 0; i < refined.size(); ++i) {
    TrackPoint* point = refined[i];
    if (point->isFound) continue;
    ++point->sourceLevel;
    ++point->searchLevel;
    reproject(*point, frame, pose);
    point->found[0] = raisedMatches_[i][0];
    point->found[1] = raisedMatches_[i][1];
    point->searched = true;
    point->isFound = true;
  }
}

void ProgressiveTracking::selectFineSet(Keyframe& keyframe, const Frame& frame, const Mat44f& pose,
                                        int32_t previousFrameLevel) {
  lastUpdate_ = SixVector();
  fineSet_.clear();
  for (TrackPoint& point : keyframe.trackPoints) {
    if (static_cast<int32_t>(fineSet_.size()) >= kFinePoints) break;
    if (!point.inImage) {
      point.searched = false;
      continue;
    }
    if (point.searched || point.isFound || point.inlier) continue;
    point.searched = true;
    point.isFound = false;
    point.inlier = false;
    if (previousFrameLevel >= 0) {
      point.sourceLevel = previousFrameLevel;
      point.searchLevel = previousFrameLevel;
    }
    reproject(point, frame, pose);
    fineSet_.push_back(&point);
  }
}

void ProgressiveTracking::buildIterationSet() {
  iterationSet_ = fineSet_;
  for (TrackPoint* point : coarseSet_) {
    if (point->inImage && point->searched && point->isFound && point->inlier) {
      iterationSet_.push_back(point);
    }
  }
}

bool ProgressiveTracking::trackFromKeyframe(Keyframe& keyframe, const Frame& frame,
                                            const Mat44f& predictedPose, Mat44f* pose,
                                            float* error) {
  prepareTrackPoints(keyframe, frame, predictedPose, keyframeLevelRange_);
  const int32_t found = searchCoarseSet(keyframe, frame, 0);
  if (found < kMinCoarseFound) {
    std::printf("fail due to small found count\n");
    return false;
  }
  Mat44f current = predictedPose;
  float meanSquaredError = 0.0f;
  iteratePose(Stage::kCoarse, coarseSet_, frame, &current, &meanSquaredError);
  if (coarseRefinement_) refineCoarseSet(keyframe, frame, current);

  selectFineSet(keyframe, frame, current, -1);
  searchPointsInKeyframe(keyframe, fineSet_, frame, kFineRadius, 0);
  buildIterationSet();
  const int32_t inliers =
      iteratePose(Stage::kFine, iterationSet_, frame, &current, &meanSquaredError);
  if (!fineStageMeasured(iterationSet_, inliers)) return false;
  *pose = current;
  *error = meanSquaredError;
  return true;
}

bool ProgressiveTracking::trackFromPreviousFrame(Keyframe& keyframe, const Frame& previous,
                                                 const Mat44f& previousPose, const Frame& frame,
                                                 const Mat44f& predictedPose, Mat44f* pose,
                                                 float* error) {
  startTimer(kTimerPreparing);
  prepareTrackPoints(keyframe, frame, predictedPose, keyframeLevelRange_);
  stopTimer(kTimerPreparing);

  startTimer(kTimerCoarseMatching);
  // On a single processor the workers could only take turns: starting and
  // joining them would cost a third of the frame for no gain, and the
  // points are searched independently, so the poses are the same.
  const int32_t threads = searchThreads_ > 0 && usableProcessorCount() > 1 ? searchThreads_ : 0;
  const int32_t found = searchCoarseSet(keyframe, frame, threads);
  stopTimer(kTimerCoarseMatching);
  if (found < kMinCoarseFound) {
    std::printf("fail due to small found count\n");
    return false;
  }

  startTimer(kTimerCoarsePosing);
  Mat44f current = predictedPose;
  float meanSquaredError = 0.0f;
  const int32_t inliers =
      iteratePose(Stage::kCoarse, coarseSet_, frame, &current, &meanSquaredError);
  stopTimer(kTimerCoarsePosing);
  if (inliers < kMinCoarseInliers) {
    std::printf("fail due to small inlier count\n");
    return false;
  }
  *pose = current;

  startTimer(kTimerFineMatching);
  if (coarseRefinement_) refineCoarseSet(keyframe, frame, current);
  if (inliers < keyframeFineBelow_) {
    // Few keyframe matches survived (a small, blurred target): previous-frame
    // templates would carry the last pose's error on, so the fine points
    // come from the keyframe as on the first frame.
    selectFineSet(keyframe, frame, current, -1);
    searchPointsInKeyframe(keyframe, fineSet_, frame, kFineRadius, 0);
  } else {
    selectFineSet(keyframe, frame, current, trackingBaseLevel(frame));
    searchPointsInPreviousFrame(previous, previousPose, fineSet_, frame, current);
  }
  stopTimer(kTimerFineMatching);

  startTimer(kTimerFinePosing);
  buildIterationSet();
  const int32_t fineInliers =
      iteratePose(Stage::kFine, iterationSet_, frame, &current, &meanSquaredError);
  stopTimer(kTimerFinePosing);
  if (!fineStageMeasured(iterationSet_, fineInliers)) return false;
  *pose = current;
  *error = meanSquaredError;

  printTimer(kTimerPreparing);
  printTimer(kTimerCoarseMatching);
  printTimer(kTimerCoarsePosing);
  printTimer(kTimerFineMatching);
  printTimer(kTimerFinePosing);
  return true;
}

}  // namespace vornik
