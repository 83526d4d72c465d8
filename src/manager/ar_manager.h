#pragma once
// Mutexes and the condition are POSIX threads' own; threads are created
// through the platform layer.
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_calibration.h"
#include "database/ardb_mngr.h"
#include "manager/frame_stepper.h"
#include "manager/throttled_log.h"
#include "manager/trackable.h"
#include "manager/tracking_engines.h"
#include "manager/tracking_result.h"
#include "platform/threads.h"
#include "recognition/recognizer.h"
#include "tracking/tracker.h"
#include "vornik/vornik.h"

namespace vornik {

// Process-wide owner of the engines and the tracking thread. Frames arrive on
// the capture thread (onPreviewFrame); the tracking thread copies the newest
// one and runs the Recognising / Acquiring / Tracking stages on it; the host
// reads the published result.
class ARManager : public CameraPreviewCallback {
 public:
  enum ThreadState : int32_t { kInit = 0, kRun = 1 };
  using FrameStage = FrameStepper::Stage;
  static constexpr int32_t kAcquiringFailureLimit = FrameStepper::kAcquiringFailureLimit;

  // The process-wide manager over the real engines; created on first call.
  static std::shared_ptr<ARManager> getInstance();

  // A manager of its own whose tracking thread drives `engines` (tests).
  explicit ARManager(std::unique_ptr<TrackingEngines> engines);
  ~ARManager() override;
  ARManager(const ARManager&) = delete;
  ARManager& operator=(const ARManager&) = delete;

  // Capture thread: copies the frame and wakes the tracking thread.
  void onPreviewFrame(const uint8_t* data, int32_t byteSize, int32_t width, int32_t height,
                      int32_t pixelFormat) override;

  void startTracker();
  // Never hangs: the stop signal reaches the thread whether or not frames arrive.
  void stopTracker();

  // Snapshot of 0 or 1 trackable, valid until the next call.
  ITrackingResult& getTrackingResult();

  void setAppDataDirPath(const std::string& path);
  // Empties the group list, then sets the database's asset directory.
  void setArdbAssetDirPath(const std::string& path);
  void addTrackableGroup(const std::string& groupFile);
  // Handed to the database manager at the next load.
  std::string ardbAssetDirPath() const;
  void loadTrackerData();

  void setPortraitMode(bool portrait);
  bool portraitMode() const;

  // The host's opt-in acquisition help (values already clamped); the
  // tracking thread hands it to the tracker and the stage machine before
  // each frame, the test harness at startTest.
  void setAcquisitionOptions(const AcquisitionOptions& options);
  AcquisitionOptions acquisitionOptions() const;
  InitialPoseOptions initialPoseOptions() const;
  RecognitionOptions recognitionOptions() const;
  // The host's opt-in tracking range, passed on the same way.
  void setTrackingOptions(const TrackingOptions& options);
  TrackingOptions trackingOptions() const;

  std::shared_ptr<ArdbMngr> getArdbMngr() const { return ardbMngr_; }
  std::shared_ptr<Recognizer> getRecognizer() const { return recognizer_; }
  std::shared_ptr<Tracker> getTracker() const { return tracker_; }
  std::shared_ptr<CameraCalibration> getCameraCalibration() const { return calibration_; }
  // Replaces the published result with a copy of `trackable`.
  void setTrackingResult(const Trackable& trackable);

  // One frame through the stages, publishing a tracked pose; true when a pose
  // was published. Runs on the tracking thread, or on the caller's thread
  // while no tracking thread runs (the still-image tests).
  bool processFrame(const uint8_t* frame, int32_t width, int32_t height, int32_t pixelFormat);
  FrameStage frameStage() const { return stepper_->stage(); }

 private:
  ARManager();
  void construct(std::unique_ptr<TrackingEngines> engines);

  static void* trackingLoopEntry(void* manager);
  void trackingLoop();
  // Tracking thread, without the wake lock: the Init step and one frame.
  void initialiseEngines();
  void runFrame();
  // Copies the newest frame into trackingBuffer_ with its layout; false when
  // there is no new frame.
  bool takeFrameSnapshot();
  void clearLatestResult();

  std::shared_ptr<Recognizer> recognizer_;
  std::shared_ptr<CameraCalibration> calibration_;
  std::shared_ptr<ArdbMngr> ardbMngr_;
  std::shared_ptr<Tracker> tracker_;
  std::unique_ptr<TrackingEngines> engines_;
  std::atomic<bool> portraitMode_{false};

  // Newest camera frame and its layout; guarded by frameMutex_.
  int32_t frameWidth_ = 0;
  int32_t frameHeight_ = 0;
  int32_t frameByteSize_ = 0;
  int32_t pixelFormat_ = 0;
  uint64_t frameSerial_ = 0;
  std::vector<uint8_t> cameraBuffer_;

  // Tracking thread only: its copy of the frame and the layout it was taken
  // with, and the layout the tracker was initialised for.
  std::vector<uint8_t> trackingBuffer_;
  int32_t trackingWidth_ = 0;
  int32_t trackingHeight_ = 0;
  int32_t trackingPixelFormat_ = 0;
  uint64_t trackingSerial_ = 0;
  int32_t trackerWidth_ = 0;
  int32_t trackerHeight_ = 0;
  int32_t trackerPixelFormat_ = 0;
  std::unique_ptr<FrameStepper> stepper_;

  TrackingResult publicResult_;
  TrackingResult latestResult_;  // guarded by resultMutex_ together with publicResult_

  ThreadHandle thread_{};
  int32_t threadStartResult_ = -1;  // guarded by controlMutex_
  pthread_mutex_t frameMutex_;
  pthread_mutex_t resultMutex_;
  pthread_mutex_t wakeMutex_;
  pthread_cond_t frameReady_;
  // Serialises startTracker and stopTracker; never taken by the tracking thread.
  pthread_mutex_t controlMutex_;
  // Guards the host's settings below; held only for short copies.
  mutable pthread_mutex_t configMutex_;
  // One database load at a time (the tracking thread's and a test's).
  pthread_mutex_t loadMutex_;

  // Guarded by wakeMutex_.
  bool running_ = false;
  std::deque<int32_t> stateRequests_;
  int32_t threadState_ = kInit;

  // Guarded by configMutex_; copied by the tracking thread at Init.
  std::vector<std::string> trackableGroups_;
  std::string appDataDirPath_;
  std::string ardbAssetDirPath_;
  AcquisitionOptions acquisitionOptions_;
  TrackingOptions trackingOptions_;

  // Bad frames come with every capture; one line a second says so.
  ThrottledLog badFrameLog_;
  ThrottledLog shortFrameLog_;
};

}  // namespace vornik
