#pragma once
#include <cstdint>
#include <vector>

#include "features/feature.h"
#include "features/random.h"
#include "tracking/matrix.h"

namespace vornik {

// Result codes, equal to the tracker's kTrackOk, kTrackNotEnoughMatches and
// kTrackFailed.
constexpr int32_t kInitialPoseOk = 0;
constexpr int32_t kInitialPoseNotEnoughMatches = 11;
constexpr int32_t kInitialPoseFailed = 12;

// Where a frame's features came from when not from the camera frame itself:
// the window of the frame at (left, top), enlarged `enlargement` times
// (pixel X of the enlargement at window position (X - (f - 1) / 2) / f, as
// enlargeDouble samples, applied once or twice).
// Where `warped` is set, the image is instead an affine warp of the frame:
// its pixel (x, y) shows camera pixel (affine[0] x + affine[1] y +
// affine[2], affine[3] x + affine[4] y + affine[5]), and the fields above
// are unused.
struct FrameWindow {
  int32_t enlargement = 1;
  int32_t left = 0;
  int32_t top = 0;
  bool warped = false;
  double affine[6] = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0};
};

// Fewest mutual matches worth a homography.
constexpr int32_t kInitialPoseMinPairs = 17;
// The fewest a caller may opt for.
constexpr int32_t kMinInitialPoseMatches = 10;

// Pose of a target seen for the first time, from one frame: mutual matching of
// the target's stored features (positions in target pixels from the image
// centre, y up) against the frame's described features (camera pixels),
// RANSAC homography on normalised pairs, decomposition with the pinhole model
// of focal length cameraWidth. On success writes the 4x4 pose (target plane
// in units of the target width to camera coordinates) to *poseMatrix and
// returns kInitialPoseOk; otherwise leaves *poseMatrix alone and returns
// kInitialPoseNotEnoughMatches (fewer than 17 pairs) or kInitialPoseFailed.
// Writes the features' matchIndex. `random` drives the RANSAC samples; the
// caller owns it so that runs are reproducible. Runs the INITPOSE-MATCHING
// and INITPOSE-CALCPOSE(-RANSAC, -ETC, -DECOMPOSITION) timers.
// `rescueIterations` is the opt-in rescue sampling of ransacHomography.
// `window`: where the frame features come from; the pose is the camera's.
// `minPairs`: the fewest pairs, and the fewest RANSAC inliers, a pose needs
// (17, kInitialPoseMinPairs and kRansacMinInliers, unless the caller opts
// for fewer).
// `spentPairs`, where given: one flag per mutual pair; pairs flagged are
// left out, and the pairs of the consensus found are flagged. A caller that
// refuses a pose calls again with it to get the next consensus of the same
// matches (sized afresh, all unflagged, where its size is not the pairs').
// `fittedPose`, where given: receives the rigid pose that best reproduces
// the homography at the consensus's target points (fitRigidPose), or null
// where the fit fails; *poseMatrix still receives the decomposed pose.
int32_t estimateInitialPose(const std::vector<FeaturePtr>& targetFeatures, int32_t targetWidth,
                            const std::vector<FeaturePtr>& frameFeatures, int32_t cameraWidth,
                            int32_t cameraHeight, Random& random, MatrixPtr* poseMatrix,
                            int32_t rescueIterations = 0, const FrameWindow& window = {},
                            int32_t minPairs = kInitialPoseMinPairs,
                            std::vector<uint8_t>* spentPairs = nullptr,
                            MatrixPtr* fittedPose = nullptr);

}  // namespace vornik
