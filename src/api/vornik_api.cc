// Exported namespaced functions over the AR manager.
#include <algorithm>
#include <string>
#include <utility>

#include "api/library_lifetime.h"
#include "features/feature_mngr.h"
#include "manager/ar_manager.h"
#include "recognition/recognizer.h"
#include "tracking/homography.h"
#include "tracking/initial_pose.h"
#include "tracking/progressive_tracking.h"
#include "tracking/tracker.h"
#include "vornik/vornik.h"

namespace vornik {

void setAppDataDirPath(std::string path) { ARManager::getInstance()->setAppDataDirPath(path); }

void setArdbAssetDirPath(std::string path) { ARManager::getInstance()->setArdbAssetDirPath(path); }

void addTrackableGroup(std::string groupFile) {
  ARManager::getInstance()->addTrackableGroup(groupFile);
}

void startTracker() {
  ARManager::getInstance()->startTracker();
  stopThreadsAtExit();
}

void stopTracker() { ARManager::getInstance()->stopTracker(); }

void setAcquisitionOptions(const AcquisitionOptions& options) {
  AcquisitionOptions clamped = options;
  clamped.initialPoseFeaturesPerLayer =
      std::clamp(options.initialPoseFeaturesPerLayer, 1, kMaxDescribedPerLayer);
  clamped.acquiringAttempts =
      std::clamp(options.acquiringAttempts, 1, FrameStepper::kMaxAcquiringAttempts);
  clamped.ransacRescueIterations =
      std::clamp(options.ransacRescueIterations, 0, kMaxRansacRescueIterations);
  clamped.recognitionCorners =
      std::clamp(options.recognitionCorners, kMinRecognitionCorners, kMaxRecognitionCorners);
  clamped.recognitionWindowVotes = std::clamp(options.recognitionWindowVotes, 0, 4);
  clamped.recognitionVoteDisc = std::clamp(options.recognitionVoteDisc, 0, kMaxVoteDiscPercent);
  clamped.recognitionPoseCandidates =
      std::clamp(options.recognitionPoseCandidates, 0, kMaxPoseCandidates);
  clamped.recognitionCandidateVotes =
      std::clamp(options.recognitionCandidateVotes, kMinCandidateVotes, kMinimumVotesExclusive);
  clamped.initialPoseAgreement = std::clamp(options.initialPoseAgreement, 0, 100);
  clamped.initialPoseSecondLook = std::clamp(options.initialPoseSecondLook, 0, 100);
  clamped.recognitionNearKeySteps =
      std::clamp(options.recognitionNearKeySteps, 0, kMaxNearKeySteps);
  clamped.initialPoseMinMatches =
      std::clamp(options.initialPoseMinMatches, kMinInitialPoseMatches, kInitialPoseMinPairs);
  clamped.initialPoseConsensusRetries =
      std::clamp(options.initialPoseConsensusRetries, 0, kMaxConsensusRetries);
  clamped.voteWindowEnlargement =
      options.voteWindowEnlargement >= 4 ? 4 : (options.voteWindowEnlargement >= 2 ? 2 : 0);
  ARManager::getInstance()->setAcquisitionOptions(clamped);
}

AcquisitionOptions getAcquisitionOptions() {
  return ARManager::getInstance()->acquisitionOptions();
}

void setTrackingOptions(const TrackingOptions& options) {
  TrackingOptions clamped = options;
  clamped.keyframeLevelRange = std::clamp(options.keyframeLevelRange, 0, kMaxKeyframeLevelRange);
  clamped.searchThreads = std::clamp(options.searchThreads, 0, kMaxSearchThreads);
  clamped.coarseBatches =
      std::clamp(options.coarseBatches, 1, ProgressiveTracking::kMaxCoarseBatches);
  clamped.keyframeFineBelowInliers =
      std::clamp(options.keyframeFineBelowInliers, 0, ProgressiveTracking::kCoarsePoints);
  ARManager::getInstance()->setTrackingOptions(clamped);
}

TrackingOptions getTrackingOptions() { return ARManager::getInstance()->trackingOptions(); }

ITrackingResult& getTrackingResult() { return ARManager::getInstance()->getTrackingResult(); }

const Matrix44F& getProjectionMatrix() {
  return ARManager::getInstance()->getCameraCalibration()->getProjectionMatrix();
}

}  // namespace vornik
