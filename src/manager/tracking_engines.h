#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/ardb_mngr.h"
#include "manager/candidate_acquisition.h"
#include "manager/trackable.h"
#include "recognition/recognizer.h"
#include "tracking/tracker.h"
#include "vornik/vornik.h"

namespace vornik {

// What the AR manager's tracking thread asks of the database, the recognizer
// and the tracker. The library runs the real engines; tests script them.
class TrackingEngines {
 public:
  virtual ~TrackingEngines() = default;
  // Sets the database's asset directory and loads the groups.
  virtual void loadTrackerData(const std::string& assetDirPath, const std::string& appDataDirPath,
                               const std::vector<std::string>& groups) = 0;
  virtual void initRecognizer() = 0;
  virtual int32_t initTracker(int32_t width, int32_t height, int32_t pixelFormat) = 0;
  // 0: recognised, `result` holds the result text.
  virtual int32_t recognize(int32_t width, int32_t height, int32_t pixelFormat,
                            const uint8_t* pixels, std::string& result, std::string hint) = 0;
  // 0: pose found and `trackable` filled.
  virtual int32_t track(const uint8_t* pixels, Trackable& trackable, std::string hint,
                        std::string recognition) = 0;
  // The next track call estimates a fresh initial pose.
  virtual void clearKeyframeTarget() = 0;
  // The host's opt-ins for the initial pose.
  virtual void setInitialPoseOptions(const InitialPoseOptions& /*options*/) {}
  // The host's opt-ins for recognition.
  virtual void setRecognitionOptions(const RecognitionOptions& /*options*/) {}
  // The host's tracking options (applyTrackingOptions).
  virtual void setTrackingOptions(const TrackingOptions& /*options*/) {}
  // The tracking thread has finished with one frame (results published);
  // lets scripted engines follow the thread.
  virtual void frameStepFinished() {}
};

// Hands the host's tracking options to a tracker (the live thread's and
// the still-image tests').
void applyTrackingOptions(const TrackingOptions& options, Tracker* tracker);

// The engines over the real database manager, recognizer and tracker.
class DefaultTrackingEngines : public TrackingEngines {
 public:
  DefaultTrackingEngines(std::shared_ptr<ArdbMngr> database, std::shared_ptr<Recognizer> recognizer,
                         std::shared_ptr<Tracker> tracker);

  void loadTrackerData(const std::string& assetDirPath, const std::string& appDataDirPath,
                       const std::vector<std::string>& groups) override;
  void initRecognizer() override;
  int32_t initTracker(int32_t width, int32_t height, int32_t pixelFormat) override;
  int32_t recognize(int32_t width, int32_t height, int32_t pixelFormat, const uint8_t* pixels,
                    std::string& result, std::string hint) override;
  int32_t track(const uint8_t* pixels, Trackable& trackable, std::string hint,
                std::string recognition) override;
  void clearKeyframeTarget() override;
  void setInitialPoseOptions(const InitialPoseOptions& options) override;
  void setRecognitionOptions(const RecognitionOptions& options) override;
  void setTrackingOptions(const TrackingOptions& options) override;

 private:
  std::shared_ptr<ArdbMngr> database_;
  std::shared_ptr<Recognizer> recognizer_;
  std::shared_ptr<Tracker> tracker_;
  CandidateAcquisition acquisition_;
};

}  // namespace vornik
