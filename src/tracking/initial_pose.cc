#include "tracking/initial_pose.h"

#include <algorithm>
#include <cmath>

#include "manager/profiler.h"
#include "tracking/feature_matching.h"
#include "tracking/homography.h"

namespace vornik {

int32_t estimateInitialPose(const std::vector<FeaturePtr>& targetFeatures, int32_t targetWidth,
                            const std::vector<FeaturePtr>& frameFeatures, int32_t cameraWidth,
                            int32_t cameraHeight, Random& random, MatrixPtr* poseMatrix,
                            int32_t rescueIterations, const FrameWindow& window, int32_t minPairs) {
  startTimer(kTimerInitPoseMatching);
  const std::vector<FeaturePtr> pairs = matchFeaturesMutual(targetFeatures, frameFeatures);
  stopTimer(kTimerInitPoseMatching);
  // A homography from a handful of pairs explains any of them.
  minPairs = std::max(minPairs, kMinInitialPoseMatches);
  if (static_cast<int32_t>(pairs.size() / 2) < minPairs) {
    return kInitialPoseNotEnoughMatches;
  }

  startTimer(kTimerInitPoseCalcPose);
  startTimer(kTimerInitPoseCalcPoseRansac);
  const double scale = std::sqrt(2.0);
  NormalizationParams params;
  const std::vector<NormalizedPair> normalized = normalizePairs(pairs, scale, &params);
  const MatrixPtr h = ransacHomography(normalized, kRansacSampleSize, minPairs, kRansacThreshold,
                                       random, rescueIterations);
  stopTimer(kTimerInitPoseCalcPoseRansac);
  if (!h) {
    stopTimer(kTimerInitPoseCalcPose);
    return kInitialPoseFailed;
  }

  startTimer(kTimerInitPoseCalcPoseEtc);
  MatrixPtr g = denormalizeHomography(*h, params, scale);
  Matrix planeToPixels(3, 3);
  planeToPixels(0, 0) = targetWidth;
  planeToPixels(1, 1) = targetWidth;
  planeToPixels(2, 2) = 1.0;
  if (g) g = multiply(*g, planeToPixels);
  if (g && (window.enlargement > 1 || window.left != 0 || window.top != 0)) {
    const double f = std::max(window.enlargement, 1);
    Matrix toCamera(3, 3);
    toCamera(0, 0) = 1.0 / f;
    toCamera(1, 1) = 1.0 / f;
    toCamera(0, 2) = -(f - 1.0) / (2.0 * f) + window.left;
    toCamera(1, 2) = -(f - 1.0) / (2.0 * f) + window.top;
    toCamera(2, 2) = 1.0;
    g = multiply(toCamera, *g);
  }
  stopTimer(kTimerInitPoseCalcPoseEtc);

  startTimer(kTimerInitPoseCalcPoseDecomposition);
  MatrixPtr pose = g ? decomposeHomography(cameraWidth, cameraHeight, *g) : nullptr;
  stopTimer(kTimerInitPoseCalcPoseDecomposition);
  stopTimer(kTimerInitPoseCalcPose);
  if (!pose) return kInitialPoseFailed;
  if (poseMatrix != nullptr) *poseMatrix = pose;
  return kInitialPoseOk;
}

}  // namespace vornik
