#include "tracking/initial_pose.h"

#include <algorithm>
#include <cmath>

#include "manager/profiler.h"
#include "tracking/feature_matching.h"
#include "tracking/homography.h"
#include "tracking/rigid_fit.h"
#include "tracking/se3.h"

namespace vornik {

int32_t estimateInitialPose(const std::vector<FeaturePtr>& targetFeatures, int32_t targetWidth,
                            const std::vector<FeaturePtr>& frameFeatures, int32_t cameraWidth,
                            int32_t cameraHeight, Random& random, MatrixPtr* poseMatrix,
                            int32_t rescueIterations, const FrameWindow& window, int32_t minPairs,
                            std::vector<uint8_t>* spentPairs, MatrixPtr* fittedPose) {
  startTimer(kTimerInitPoseMatching);
  std::vector<FeaturePtr> pairs = matchFeaturesMutual(targetFeatures, frameFeatures);
  stopTimer(kTimerInitPoseMatching);
  // Pair index in `pairs` of each pair left after the spent ones.
  std::vector<int32_t> kept;
  if (spentPairs != nullptr) {
    const size_t count = pairs.size() / 2;
    if (spentPairs->size() != count) spentPairs->assign(count, 0);
    size_t next = 0;
    for (size_t i = 0; i < count; ++i) {
      if ((*spentPairs)[i] != 0) continue;
      kept.push_back(static_cast<int32_t>(i));
      pairs[2 * next] = pairs[2 * i];
      pairs[2 * next + 1] = pairs[2 * i + 1];
      ++next;
    }
    pairs.resize(2 * next);
  }
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
  if (spentPairs != nullptr) {
    std::vector<int32_t> inliers;
    countInliers(*h, normalized, kRansacThreshold, &inliers, nullptr);
    for (int32_t i : inliers) (*spentPairs)[kept[i]] = 1;
  }

  startTimer(kTimerInitPoseCalcPoseEtc);
  MatrixPtr g = denormalizeHomography(*h, params, scale);
  Matrix planeToPixels(3, 3);
  planeToPixels(0, 0) = targetWidth;
  planeToPixels(1, 1) = targetWidth;
  planeToPixels(2, 2) = 1.0;
  if (g) g = multiply(*g, planeToPixels);
  if (g && window.warped) {
    Matrix toCamera(3, 3);
    for (int i = 0; i < 6; ++i) toCamera(i / 3, i % 3) = window.affine[i];
    toCamera(2, 2) = 1.0;
    g = multiply(toCamera, *g);
  } else if (g && (window.enlargement > 1 || window.left != 0 || window.top != 0)) {
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
  if (fittedPose != nullptr) *fittedPose = nullptr;
  if (pose && fittedPose != nullptr) {
    // Fitted where the consensus lies: the homography is right there.
    std::vector<int32_t> inliers;
    countInliers(*h, normalized, kRansacThreshold, &inliers, nullptr);
    const size_t stride = inliers.size() / kRigidFitMaxPoints + 1;
    std::vector<float> plane;
    for (size_t i = 0; i < inliers.size(); i += stride) {
      const Feature& t = *pairs[2 * static_cast<size_t>(inliers[i])];
      plane.push_back(static_cast<float>(t.x) / static_cast<float>(targetWidth));
      plane.push_back(static_cast<float>(t.y) / static_cast<float>(targetWidth));
    }
    Mat44f fitted = se3Exp(se3Ln(toMat44f(*pose)));
    if (fitRigidPose(*g, plane, cameraWidth, cameraHeight, &fitted)) {
      *fittedPose = fromMat44f(fitted);
    }
  }
  stopTimer(kTimerInitPoseCalcPoseDecomposition);
  stopTimer(kTimerInitPoseCalcPose);
  if (!pose) return kInitialPoseFailed;
  if (poseMatrix != nullptr) *poseMatrix = pose;
  return kInitialPoseOk;
}

}  // namespace vornik
