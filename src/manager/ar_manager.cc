#include "manager/ar_manager.h"

#include <cstring>
#include <utility>

#include "manager/log.h"
#include "manager/profiler.h"
#include "platform/threads.h"

namespace vornik {
namespace {

class MutexLock {
 public:
  explicit MutexLock(pthread_mutex_t& mutex) : mutex_(mutex) { pthread_mutex_lock(&mutex_); }
  ~MutexLock() { pthread_mutex_unlock(&mutex_); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  pthread_mutex_t& mutex_;
};

// Timers reported after every frame step that published nothing.
constexpr int32_t kFirstReportedTimer = kTimerRecogInitPoseTotal;
constexpr int32_t kLastReportedTimer = kTimerInitPoseCalcPoseDecomposition;

int64_t bytesPerPixel(int32_t pixelFormat) { return pixelFormat == 1 ? 1 : 3; }

}  // namespace

std::shared_ptr<ARManager> ARManager::getInstance() {
  // Never destroyed: the capture and tracking threads may still run while
  // the process exits, and they use the manager until they are stopped.
  // A function-local static is initialised once even when the first calls race.
  static auto* instance = new std::shared_ptr<ARManager>(new ARManager());
  return *instance;
}

ARManager::ARManager() { construct(nullptr); }

ARManager::ARManager(std::unique_ptr<TrackingEngines> engines) { construct(std::move(engines)); }

void ARManager::construct(std::unique_ptr<TrackingEngines> engines) {
  threadStartResult_ = -1;
  pthread_mutex_init(&frameMutex_, nullptr);
  pthread_mutex_init(&resultMutex_, nullptr);
  pthread_mutex_init(&wakeMutex_, nullptr);
  pthread_cond_init(&frameReady_, nullptr);
  pthread_mutex_init(&controlMutex_, nullptr);
  pthread_mutex_init(&configMutex_, nullptr);
  pthread_mutex_init(&loadMutex_, nullptr);
  stateRequests_.clear();
  ardbMngr_ = std::make_shared<ArdbMngr>();
  recognizer_ = std::make_shared<Recognizer>();
  tracker_ = std::make_shared<Tracker>();
  calibration_ = std::make_shared<CameraCalibration>();
  engines_ = engines ? std::move(engines)
                     : std::make_unique<DefaultTrackingEngines>(ardbMngr_, recognizer_, tracker_);
  stepper_ = std::make_unique<FrameStepper>(engines_.get());
}

ARManager::~ARManager() {
  {
    MutexLock control(controlMutex_);
    if (threadStartResult_ == 0) {
      {
        MutexLock wake(wakeMutex_);
        running_ = false;
        pthread_cond_signal(&frameReady_);
      }
      joinThread(thread_);
      threadStartResult_ = -1;
    }
  }
  pthread_mutex_destroy(&loadMutex_);
  pthread_mutex_destroy(&configMutex_);
  pthread_mutex_destroy(&controlMutex_);
  pthread_cond_destroy(&frameReady_);
  pthread_mutex_destroy(&wakeMutex_);
  pthread_mutex_destroy(&resultMutex_);
  pthread_mutex_destroy(&frameMutex_);
}

void ARManager::onPreviewFrame(const uint8_t* data, int32_t byteSize, int32_t width, int32_t height,
                               int32_t pixelFormat) {
  if (data == nullptr || width <= 0 || height <= 0 || (pixelFormat != 0 && pixelFormat != 1)) {
    badFrameLog_.log("onPreviewFrame: frame ignored (%d x %d, format %d)\n", width, height,
                     pixelFormat);
    return;
  }
  // The engines read width x height pixels; a shorter buffer would be read
  // past its end.
  if (int64_t{byteSize} < int64_t{width} * height * bytesPerPixel(pixelFormat)) {
    shortFrameLog_.log("onPreviewFrame: frame of %d bytes too small for %d x %d, format %d\n",
                       byteSize, width, height, pixelFormat);
    return;
  }
  bool sizeChanged = false;
  {
    MutexLock lock(frameMutex_);
    if (width != frameWidth_ || height != frameHeight_) {
      sizeChanged = true;
      frameWidth_ = width;
      frameHeight_ = height;
    }
    // Only the capture thread touches cameraBuffer_; the tracking thread
    // copies out of it under this lock, so it may be resized here.
    if (byteSize != frameByteSize_) {
      cameraBuffer_.resize(static_cast<size_t>(byteSize));
      frameByteSize_ = byteSize;
    }
    pixelFormat_ = pixelFormat;
    std::memcpy(cameraBuffer_.data(), data, static_cast<size_t>(byteSize));
    ++frameSerial_;
  }
  // After the frame lock: the calibration logs the new size, and a host's log
  // callback must never run under a library lock.
  if (sizeChanged) calibration_->setCameraSize(width, height);
  pthread_cond_signal(&frameReady_);
}

void ARManager::startTracker() {
  logMessage("Start Tracker");
  enum class Outcome { kStarted, kAlreadyRunning, kFailed };
  Outcome outcome = Outcome::kStarted;
  {
    MutexLock control(controlMutex_);
    if (threadStartResult_ == 0) {
      outcome = Outcome::kAlreadyRunning;
    } else {
      {
        MutexLock wake(wakeMutex_);
        running_ = true;
        stateRequests_.push_back(kInit);
      }
      threadStartResult_ = createThread(&thread_, &ARManager::trackingLoopEntry, this);
      if (threadStartResult_ != 0) outcome = Outcome::kFailed;
    }
  }
  // Logged after the control lock: a log callback may call back in.
  if (outcome == Outcome::kAlreadyRunning) logMessage("Tracker is already running");
  if (outcome == Outcome::kFailed) logMessage("Start tracker error");
}

void ARManager::stopTracker() {
  {
    MutexLock control(controlMutex_);
    {
      // Cleared and signalled under wakeMutex_: the thread either has not
      // yet tested running_ (and sees it false) or is already waiting.
      MutexLock wake(wakeMutex_);
      running_ = false;
      pthread_cond_signal(&frameReady_);
    }
    if (threadStartResult_ == 0) {
      joinThread(thread_);
      threadStartResult_ = -1;
    }
  }
  logMessage("Stop tracker");
}

void* ARManager::trackingLoopEntry(void* manager) {
  static_cast<ARManager*>(manager)->trackingLoop();
  return nullptr;
}

bool ARManager::takeFrameSnapshot() {
  MutexLock lock(frameMutex_);
  if (frameWidth_ == 0 || frameHeight_ == 0 || frameSerial_ == trackingSerial_) return false;
  trackingBuffer_.assign(cameraBuffer_.begin(), cameraBuffer_.end());
  trackingWidth_ = frameWidth_;
  trackingHeight_ = frameHeight_;
  trackingPixelFormat_ = pixelFormat_;
  trackingSerial_ = frameSerial_;
  return true;
}

void ARManager::trackingLoop() {
  pthread_mutex_lock(&wakeMutex_);
  while (running_) {
    pthread_cond_wait(&frameReady_, &wakeMutex_);
    if (!running_) break;
    // A spurious wake-up or a signal without a new frame finds nothing to do.
    if (!takeFrameSnapshot()) continue;
    if (!stateRequests_.empty()) {
      threadState_ = stateRequests_.front();
      stateRequests_.pop_front();
    }
    const int32_t state = threadState_;
    // The engines run without the wake lock, so that a stop never waits for
    // a lock held through a whole frame and no log line is delivered under
    // it. Signals that come meanwhile find no waiter and are lost, as frames
    // that arrive while the thread works are meant to be.
    pthread_mutex_unlock(&wakeMutex_);
    if (state == kInit) {
      initialiseEngines();
    } else {
      runFrame();
    }
    pthread_mutex_lock(&wakeMutex_);
    if (state == kInit) threadState_ = kRun;
  }
  pthread_mutex_unlock(&wakeMutex_);
  logMessage("Exit Tracking thread");
}

void ARManager::initialiseEngines() {
  logMessage("Tracker state : Init");
  loadTrackerData();
  engines_->initRecognizer();
  logMessage("Reconizer initialization success !!\n");
  if (engines_->initTracker(trackingWidth_, trackingHeight_, trackingPixelFormat_) != 0) {
    logMessage("Can not init Tracker!!");
  } else {
    logMessage("Tracker initialization success !!\n");
  }
  trackerWidth_ = trackingWidth_;
  trackerHeight_ = trackingHeight_;
  trackerPixelFormat_ = trackingPixelFormat_;
  engines_->frameStepFinished();
}

void ARManager::runFrame() {
  if (trackingWidth_ != trackerWidth_ || trackingHeight_ != trackerHeight_ ||
      trackingPixelFormat_ != trackerPixelFormat_) {
    // The tracker's images and keyframe were made for the old layout.
    logMessage("Frame size changed to %d x %d (format %d): initialising the tracker again\n",
               trackingWidth_, trackingHeight_, trackingPixelFormat_);
    if (engines_->initTracker(trackingWidth_, trackingHeight_, trackingPixelFormat_) != 0) {
      logMessage("Can not init Tracker!!");
    }
    trackerWidth_ = trackingWidth_;
    trackerHeight_ = trackingHeight_;
    trackerPixelFormat_ = trackingPixelFormat_;
    stepper_->reset();
    clearLatestResult();
  }
  engines_->setInitialPoseOptions(initialPoseOptions());
  engines_->setRecognitionOptions(recognitionOptions());
  engines_->setTrackingOptions(trackingOptions());
  const AcquisitionOptions acquisition = acquisitionOptions();
  stepper_->setAcquiringAttempts(acquisition.acquiringAttempts);
  stepper_->setAcquireOnRecognisedFrame(acquisition.acquireOnRecognisedFrame);
  processFrame(trackingBuffer_.data(), trackingWidth_, trackingHeight_, trackingPixelFormat_);
  engines_->frameStepFinished();
}

bool ARManager::processFrame(const uint8_t* frame, int32_t width, int32_t height,
                             int32_t pixelFormat) {
  Trackable trackable;
  const FrameStepper::Outcome outcome =
      stepper_->step(frame, width, height, pixelFormat, &trackable);
  if (outcome == FrameStepper::Outcome::kTracked) {
    MutexLock lock(resultMutex_);
    latestResult_.clear();
    latestResult_.add(trackable);
    return true;
  }
  // A lost pose stays readable until Acquiring fails as well.
  if (outcome == FrameStepper::Outcome::kAcquireFailed &&
      stepper_->stage() == FrameStepper::kRecognising) {
    clearLatestResult();
  }
  for (int32_t id = kFirstReportedTimer; id <= kLastReportedTimer; ++id) {
    printTimer(static_cast<TimerId>(id));
  }
  return false;
}

void ARManager::clearLatestResult() {
  MutexLock lock(resultMutex_);
  latestResult_.clear();
}

ITrackingResult& ARManager::getTrackingResult() {
  MutexLock lock(resultMutex_);
  publicResult_.clear();
  if (latestResult_.getCount() > 0) {
    publicResult_.add(static_cast<const Trackable&>(latestResult_.getTrackable(0)));
  }
  return publicResult_;
}

void ARManager::setTrackingResult(const Trackable& trackable) {
  MutexLock lock(resultMutex_);
  latestResult_.clear();
  latestResult_.add(trackable);
}

void ARManager::setAppDataDirPath(const std::string& path) {
  MutexLock lock(configMutex_);
  appDataDirPath_ = path;
}

void ARManager::setArdbAssetDirPath(const std::string& path) {
  MutexLock lock(configMutex_);
  trackableGroups_.clear();
  ardbAssetDirPath_ = path;
}

std::string ARManager::ardbAssetDirPath() const {
  MutexLock lock(configMutex_);
  return ardbAssetDirPath_;
}

void ARManager::addTrackableGroup(const std::string& groupFile) {
  MutexLock lock(configMutex_);
  trackableGroups_.push_back(groupFile);
}

void ARManager::loadTrackerData() {
  // The settings are copied, not held: the load logs, and a host's log
  // callback may call a setter from inside it. The database manager gets its
  // asset directory here, on the loading thread, so that a setter on a host
  // thread never writes it while a load reads it.
  std::string assetDirPath;
  std::string appDataDirPath;
  std::vector<std::string> groups;
  {
    MutexLock lock(configMutex_);
    assetDirPath = ardbAssetDirPath_;
    appDataDirPath = appDataDirPath_;
    groups = trackableGroups_;
  }
  MutexLock load(loadMutex_);
  engines_->loadTrackerData(assetDirPath, appDataDirPath, groups);
}

void ARManager::setAcquisitionOptions(const AcquisitionOptions& options) {
  MutexLock lock(configMutex_);
  acquisitionOptions_ = options;
}

AcquisitionOptions ARManager::acquisitionOptions() const {
  MutexLock lock(configMutex_);
  return acquisitionOptions_;
}

void ARManager::setTrackingOptions(const TrackingOptions& options) {
  MutexLock lock(configMutex_);
  trackingOptions_ = options;
}

TrackingOptions ARManager::trackingOptions() const {
  MutexLock lock(configMutex_);
  return trackingOptions_;
}

InitialPoseOptions ARManager::initialPoseOptions() const {
  const AcquisitionOptions options = acquisitionOptions();
  InitialPoseOptions pose;
  pose.featuresPerLayer = options.initialPoseFeaturesPerLayer;
  pose.refine = options.refineInitialPose;
  pose.ransacRescueIterations = options.ransacRescueIterations;
  pose.retryEnlarged = options.retryEnlargedFrame;
  pose.voteWindowEnlargement = options.voteWindowEnlargement;
  pose.minAgreement = 0.01f * static_cast<float>(options.initialPoseAgreement);
  pose.minMatches = options.initialPoseMinMatches;
  pose.consensusRetries = options.initialPoseConsensusRetries;
  pose.tiltViews = options.initialPoseTiltViews;
  pose.rigidFit = options.initialPoseRigidFit;
  pose.secondLookAgreement = 0.01f * static_cast<float>(options.initialPoseSecondLook);
  return pose;
}

RecognitionOptions ARManager::recognitionOptions() const {
  const AcquisitionOptions options = acquisitionOptions();
  RecognitionOptions recognition;
  recognition.cornerBudget = options.recognitionCorners;
  recognition.windowRetryVotes = options.recognitionWindowVotes;
  recognition.voteDiscPercent = options.recognitionVoteDisc;
  recognition.poseCandidates = options.recognitionPoseCandidates;
  recognition.nearKeySteps = options.recognitionNearKeySteps;
  recognition.candidateMinVotes = options.recognitionCandidateVotes;
  return recognition;
}

void ARManager::setPortraitMode(bool portrait) { portraitMode_.store(portrait); }

bool ARManager::portraitMode() const { return portraitMode_.load(); }

}  // namespace vornik
