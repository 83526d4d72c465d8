#include "manager/tracking_engines.h"

#include <utility>

namespace vornik {

DefaultTrackingEngines::DefaultTrackingEngines(std::shared_ptr<ArdbMngr> database,
                                               std::shared_ptr<Recognizer> recognizer,
                                               std::shared_ptr<Tracker> tracker)
    : database_(std::move(database)),
      recognizer_(std::move(recognizer)),
      tracker_(std::move(tracker)) {}

void DefaultTrackingEngines::loadTrackerData(const std::string& assetDirPath,
                                             const std::string& appDataDirPath,
                                             const std::vector<std::string>& groups) {
  database_->setArdbAssetDirPath(assetDirPath);
  database_->loadTrackerData(appDataDirPath, groups);
}

void DefaultTrackingEngines::initRecognizer() { recognizer_->init(database_); }

int32_t DefaultTrackingEngines::initTracker(int32_t width, int32_t height, int32_t pixelFormat) {
  return tracker_->init(width, height, pixelFormat, database_);
}

int32_t DefaultTrackingEngines::recognize(int32_t width, int32_t height, int32_t pixelFormat,
                                          const uint8_t* pixels, std::string& result,
                                          std::string hint) {
  return acquisition_.recognize(recognizer_.get(), tracker_.get(), width, height, pixelFormat,
                                pixels, result, std::move(hint));
}

int32_t DefaultTrackingEngines::track(const uint8_t* pixels, Trackable& trackable, std::string hint,
                                      std::string recognition) {
  return acquisition_.track(tracker_.get(), pixels, trackable, std::move(hint), recognition);
}

void DefaultTrackingEngines::clearKeyframeTarget() { tracker_->setKeyframeTargetId(""); }

void DefaultTrackingEngines::setInitialPoseOptions(const InitialPoseOptions& options) {
  tracker_->setInitialPoseOptions(options);
}

void DefaultTrackingEngines::setRecognitionOptions(const RecognitionOptions& options) {
  recognizer_->setOptions(options);
}

void DefaultTrackingEngines::setTrackingOptions(const TrackingOptions& options) {
  applyTrackingOptions(options, tracker_.get());
}

void applyTrackingOptions(const TrackingOptions& options, Tracker* tracker) {
  tracker->setKeyframeLevelRange(options.keyframeLevelRange);
  tracker->setSearchThreads(options.searchThreads);
  tracker->setCoarseRefinement(options.refineCoarseMatches);
  tracker->setCoarseBatches(options.coarseBatches);
  tracker->setKeyframeFineBelow(options.keyframeFineBelowInliers);
}

}  // namespace vornik
