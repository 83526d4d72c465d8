// Exported flat functions: plain pointers in, nothing thrown out.
#include <atomic>
#include <cstring>
#include <exception>
#include <string>

#include "manager/ar_manager.h"
#include "manager/log.h"
#include "manager/throttled_log.h"
#include "vornik/vornik.h"
#include "vornik/vornik_c.h"

namespace {

// Identifier bytes handed to the host, terminating NUL included.
constexpr size_t kFlatIdBytes = 34;

// The snapshot of the last getTrackableCount; null before the first call.
std::atomic<vornik::ITrackingResult*> g_snapshot{nullptr};

void writeEmptyTrackable(char* id, float* pose, float* size) {
  if (id != nullptr) id[0] = '\0';
  if (pose != nullptr) std::memset(pose, 0, 16 * sizeof(float));
  if (size != nullptr) size[0] = size[1] = 0.0f;
}

bool checkString(const char* value, const char* function) {
  if (value != nullptr) return true;
  vornik::logMessage("%s: null string ignored\n", function);
  return false;
}

}  // namespace

extern "C" {

void setAppDataDirPath(const char* path) {
  if (checkString(path, "setAppDataDirPath")) vornik::setAppDataDirPath(path);
}

void setArdbAssetDirPath(const char* path) {
  if (checkString(path, "setArdbAssetDirPath")) vornik::setArdbAssetDirPath(path);
}

void addTrackableGroup(const char* groupFile) {
  if (checkString(groupFile, "addTrackableGroup")) vornik::addTrackableGroup(groupFile);
}

void startTracker(void) { vornik::startTracker(); }

void stopTracker(void) { vornik::stopTracker(); }

void setAcquisitionOptions(int initialPoseFeaturesPerLayer) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.initialPoseFeaturesPerLayer = initialPoseFeaturesPerLayer;
  vornik::setAcquisitionOptions(options);
}

void setInitialPoseRefinement(int enabled) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.refineInitialPose = enabled != 0;
  vornik::setAcquisitionOptions(options);
}

void setAcquiringAttempts(int attempts) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.acquiringAttempts = attempts;
  vornik::setAcquisitionOptions(options);
}

void setRansacRescueIterations(int iterations) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.ransacRescueIterations = iterations;
  vornik::setAcquisitionOptions(options);
}

void setInitialPoseEnlargedRetry(int enabled) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.retryEnlargedFrame = enabled != 0;
  vornik::setAcquisitionOptions(options);
}

void setInitialPoseVoteWindow(int enlargement) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.voteWindowEnlargement = enlargement;
  vornik::setAcquisitionOptions(options);
}

void setRecognitionWindowRetry(int votes) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.recognitionWindowVotes = votes;
  vornik::setAcquisitionOptions(options);
}

void setRecognitionVoteDisc(int percent) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.recognitionVoteDisc = percent;
  vornik::setAcquisitionOptions(options);
}

void setRecognitionPoseCandidates(int count) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.recognitionPoseCandidates = count;
  vornik::setAcquisitionOptions(options);
}

void setInitialPoseAgreement(int percent) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.initialPoseAgreement = percent;
  vornik::setAcquisitionOptions(options);
}

void setRecognitionNearKeySteps(int steps) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.recognitionNearKeySteps = steps;
  vornik::setAcquisitionOptions(options);
}

void setInitialPoseMinMatches(int matches) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.initialPoseMinMatches = matches;
  vornik::setAcquisitionOptions(options);
}

void setInitialPoseConsensusRetries(int retries) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.initialPoseConsensusRetries = retries;
  vornik::setAcquisitionOptions(options);
}

void setInitialPoseTiltViews(int enabled) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.initialPoseTiltViews = enabled != 0;
  vornik::setAcquisitionOptions(options);
}

void setRecognitionCandidateVotes(int votes) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.recognitionCandidateVotes = votes;
  vornik::setAcquisitionOptions(options);
}

void setAcquireOnRecognisedFrame(int enabled) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.acquireOnRecognisedFrame = enabled != 0;
  vornik::setAcquisitionOptions(options);
}

void setInitialPoseRigidFit(int enabled) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.initialPoseRigidFit = enabled != 0;
  vornik::setAcquisitionOptions(options);
}

void setInitialPoseSecondLook(int percent) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.initialPoseSecondLook = percent;
  vornik::setAcquisitionOptions(options);
}

void setRecognitionCorners(int corners) {
  vornik::AcquisitionOptions options = vornik::getAcquisitionOptions();
  options.recognitionCorners = corners;
  vornik::setAcquisitionOptions(options);
}

void setTrackingLevelRange(int levels) {
  vornik::TrackingOptions options = vornik::getTrackingOptions();
  options.keyframeLevelRange = levels;
  vornik::setTrackingOptions(options);
}

void setTrackingSearchThreads(int threads) {
  vornik::TrackingOptions options = vornik::getTrackingOptions();
  options.searchThreads = threads;
  vornik::setTrackingOptions(options);
}

void setTrackingCoarseRefinement(int enabled) {
  vornik::TrackingOptions options = vornik::getTrackingOptions();
  options.refineCoarseMatches = enabled != 0;
  vornik::setTrackingOptions(options);
}

void setTrackingCoarseBatches(int batches) {
  vornik::TrackingOptions options = vornik::getTrackingOptions();
  options.coarseBatches = batches;
  vornik::setTrackingOptions(options);
}

void setTrackingKeyframeFineBelow(int inliers) {
  vornik::TrackingOptions options = vornik::getTrackingOptions();
  options.keyframeFineBelowInliers = inliers;
  vornik::setTrackingOptions(options);
}

int getTrackableCount(void) {
  vornik::ITrackingResult& snapshot = vornik::getTrackingResult();
  g_snapshot.store(&snapshot);
  return snapshot.getCount();
}

void getTrackableInfo(int index, char* id, float* pose, float* size) {
  if (id == nullptr || pose == nullptr || size == nullptr) {
    vornik::logMessage("getTrackableInfo: null output pointer\n");
    writeEmptyTrackable(id, pose, size);
    return;
  }
  vornik::ITrackingResult* snapshot = g_snapshot.load();
  if (snapshot == nullptr) {
    vornik::logMessage("getTrackableInfo: call getTrackableCount first\n");
    writeEmptyTrackable(id, pose, size);
    return;
  }
  if (index < 0 || index >= snapshot->getCount()) {
    vornik::logMessage("getTrackableInfo: index %d outside 0 .. %d\n", index,
                       snapshot->getCount() - 1);
    writeEmptyTrackable(id, pose, size);
    return;
  }
  try {
    const vornik::ITrackable& trackable = snapshot->getTrackable(index);
    const std::string text = trackable.getId();
    const size_t length = text.size() < kFlatIdBytes - 1 ? text.size() : kFlatIdBytes - 1;
    std::memcpy(id, text.data(), length);
    id[length] = '\0';
    std::memcpy(pose, trackable.getPose(), 16 * sizeof(float));
    size[0] = trackable.getWidth();
    size[1] = trackable.getHeight();
  } catch (const std::exception& e) {
    vornik::logMessage("getTrackableInfo: %s\n", e.what());
    writeEmptyTrackable(id, pose, size);
  }
}

void getProjectionMatrix(float* matrix) {
  if (matrix == nullptr) {
    // Called every frame: a bad pointer must not flood the log.
    static vornik::ThrottledLog* const complaint = new vornik::ThrottledLog();
    complaint->log("getProjectionMatrix: null matrix ignored\n");
    return;
  }
  std::memcpy(matrix, vornik::getProjectionMatrix().data, 16 * sizeof(float));
}

void setLogCallback(void (*callback)(const char* line)) { vornik::setLogCallback(callback); }

}  // extern "C"
