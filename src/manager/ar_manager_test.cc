#include "manager/ar_manager.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "manager/log_capture_for_test.h"

namespace vornik {
namespace {

using Calls = std::vector<std::string>;
constexpr char kRecognition[] = "{[{\"id\":\"cover\"}]}";

// Engines that record what they were told and answer from a script. Every
// recognize, track and initTracker call needs a permit, so a test advances
// the tracking thread exactly one engine call at a time whatever the frame
// timing. The manager owns them; the test reads them under `mutex`.
class ScriptedEngines : public TrackingEngines {
 public:
  void loadTrackerData(const std::string& assetDirPath, const std::string& appDataDirPath,
                       const std::vector<std::string>& groups) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      calls.push_back("load");
      loaded = assetDirPath + " " + appDataDirPath;
      for (const std::string& group : groups) loaded += " " + group;
    }
    logMessage("loading\n");  // as the database does
  }
  void initRecognizer() override { record("initRecognizer"); }
  int32_t initTracker(int32_t width, int32_t height, int32_t pixelFormat) override {
    return gated("initTracker " + size(width, height, pixelFormat), [&] { return initResult; });
  }
  int32_t recognize(int32_t width, int32_t height, int32_t pixelFormat, const uint8_t* pixels,
                    std::string& result, std::string hint) override {
    return gated("recognize " + size(width, height, pixelFormat), [&] {
      EXPECT_TRUE(hint.empty());
      recognisedSerial = serialOf(pixels);
      const int32_t status = pop(recognizeResults, 10);
      if (status == 0) result = kRecognition;
      return status;
    });
  }
  int32_t track(const uint8_t* pixels, Trackable& trackable, std::string hint,
                std::string recognition) override {
    return gated("track", [&] {
      EXPECT_TRUE(hint.empty());
      EXPECT_EQ(recognition, kRecognition);
      trackedSerial = serialOf(pixels);
      const int32_t status = pop(trackResults, 12);
      if (status == 0) {
        for (int i = 0; i < 16; ++i) trackable.pose()[i] = nextPoseBase + i;
        trackable.setId("cover");
        nextPoseBase += 100.0f;
      }
      return status;
    });
  }
  void clearKeyframeTarget() override { record("clearKeyframe"); }
  void frameStepFinished() override {
    std::lock_guard<std::mutex> lock(mutex);
    inStep = false;
    changed.notify_all();
  }

  std::mutex mutex;
  std::condition_variable changed;
  int permits = 0;
  bool freeRunning = false;
  int gatedCalls = 0;
  bool inStep = false;   // the thread works on a frame
  bool blocked = false;  // ... and waits for a permit
  Calls calls;
  std::deque<int32_t> recognizeResults;  // empty: not recognised (10)
  std::deque<int32_t> trackResults;      // empty: lost (12)
  int32_t initResult = 0;
  std::string loaded;  // asset and app data folders, groups
  int recognisedSerial = -1;  // the delivery the last call saw
  int trackedSerial = -1;
  float nextPoseBase = 1.0f;

 private:
  // Waits for a permit, then records `call` and runs `answer` under the lock.
  template <typename Answer>
  int32_t gated(const std::string& call, Answer answer) {
    std::unique_lock<std::mutex> lock(mutex);
    inStep = blocked = true;
    changed.notify_all();
    changed.wait(lock, [&] { return permits > 0 || freeRunning; });
    blocked = false;
    if (permits > 0) --permits;
    calls.push_back(call);
    const int32_t status = answer();
    ++gatedCalls;
    changed.notify_all();
    return status;
  }
  void record(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(call);
  }
  static std::string size(int32_t w, int32_t h, int32_t f) {
    return std::to_string(w) + "x" + std::to_string(h) + "/" + std::to_string(f);
  }
  static int serialOf(const uint8_t* pixels) { return pixels[1] | pixels[2] << 8; }
  static int32_t pop(std::deque<int32_t>& queue, int32_t fallback) {
    if (queue.empty()) return fallback;
    const int32_t v = queue.front();
    queue.pop_front();
    return v;
  }
};

class ARManagerTest : public ::testing::Test {
 protected:
  ARManagerTest() {
    auto engines = std::make_unique<ScriptedEngines>();
    script_ = engines.get();
    manager_ = std::make_unique<ARManager>(std::move(engines));
  }

  ~ARManagerTest() override {
    release();
    manager_->stopTracker();
  }

  void deliver(int32_t width, int32_t height, uint8_t fill) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3, fill);
    // Every delivery is told apart by its serial: a frame delivered while the
    // thread was busy may be the one it takes next.
    if (frame.size() >= 3) {
      frame[1] = static_cast<uint8_t>(nextSerial_);
      frame[2] = static_cast<uint8_t>(nextSerial_ >> 8);
      ++nextSerial_;
    }
    manager_->onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), width, height, 0);
  }

  // Delivers frames until `done` holds. Polls: a frame that found the thread
  // busy wakes nobody. Each frame is delivered under the engines' lock, so
  // the thread cannot make the awaited call meanwhile: no surplus frame can
  // wake it once `done` holds and run into the next step.
  template <typename Done>
  void deliverUntil(std::unique_lock<std::mutex>& lock, int32_t width, int32_t height, uint8_t fill,
                    Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      deliver(width, height, fill);
      script_->changed.wait_for(lock, std::chrono::milliseconds(5));
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "tracking thread never called";
    }
  }

  // Lets exactly one more engine call through, delivering frames until the
  // thread has made it, then waits until the thread has finished that frame
  // or waits inside it for the next permit.
  void step(int32_t width = 64, int32_t height = 48, uint8_t fill = 7) {
    std::unique_lock<std::mutex> lock(script_->mutex);
    const int target = script_->gatedCalls + 1;
    ++script_->permits;
    script_->changed.notify_all();
    deliverUntil(lock, width, height, fill, [&] { return script_->gatedCalls >= target; });
    script_->changed.wait(lock, [&] { return !script_->inStep || script_->blocked; });
  }

  void release() {
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->freeRunning = true;
    script_->changed.notify_all();
  }

  // Stops the tracker (the engines run freely until the join is done) and
  // gates the engines again.
  void stopGated() {
    release();
    manager_->stopTracker();
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->freeRunning = script_->inStep = script_->blocked = false;
    script_->permits = 0;
  }

  Calls takeCalls() {
    std::lock_guard<std::mutex> lock(script_->mutex);
    Calls c;
    c.swap(script_->calls);
    return c;
  }
  void scriptResults(std::initializer_list<int32_t> recognize,
                     std::initializer_list<int32_t> track = {}) {
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->recognizeResults.insert(script_->recognizeResults.end(), recognize);
    script_->trackResults.insert(script_->trackResults.end(), track);
  }
  int resultCount() { return manager_->getTrackingResult().getCount(); }
  float firstPoseValue() { return manager_->getTrackingResult().getTrackable(0).getPose()[0]; }

  // Starts the tracker and lets the Init iteration run.
  void startAndInit() {
    manager_->startTracker();
    step();
    EXPECT_EQ(takeCalls(), (Calls{"load", "initRecognizer", "initTracker 64x48/0"}));
  }

  ScriptedEngines* script_ = nullptr;
  int nextSerial_ = 0;
  std::unique_ptr<ARManager> manager_;
};

TEST_F(ARManagerTest, InitIterationLoadsAndInitialisesWithoutProcessingTheFrame) {
  manager_->setAppDataDirPath("/data/app");
  manager_->addTrackableGroup("dropped.grp");
  manager_->setArdbAssetDirPath("/data/assets");
  manager_->addTrackableGroup("a.grp");
  manager_->addTrackableGroup("b.grp");
  LogCapture log;
  startAndInit();
  EXPECT_EQ(script_->loaded, "/data/assets /data/app a.grp b.grp");
  // The first recognition happens on a later frame.
  step();
  EXPECT_EQ(takeCalls(), Calls{"recognize 64x48/0"});
  const Calls expected = {"Start Tracker",
                          "CameraCalibration 69",
                          "camera width : 64 height:48",
                          "Tracker state : Init",
                          "loading\n",
                          "Reconizer initialization success !!\n",
                          "Tracker initialization success !!\n"};
  EXPECT_EQ(log.snapshot(), expected);
}

TEST_F(ARManagerTest, EveryStageTransition) {
  startAndInit();
  scriptResults({10, 0}, {0, 0, 12, 0, 0, 12, 12});
  step();  // Recognising, not recognised: stays
  step();  // Recognising, recognised -> Acquiring
  EXPECT_EQ(takeCalls(), (Calls{"recognize 64x48/0", "recognize 64x48/0"}));

  step();  // Acquiring, found -> Tracking; nothing published yet
  EXPECT_EQ(resultCount(), 0);
  step();  // Tracking, found -> published
  ASSERT_EQ(resultCount(), 1);
  const ITrackable& first = manager_->getTrackingResult().getTrackable(0);
  EXPECT_EQ(first.getId(), "cover");
  EXPECT_EQ(first.getPose()[0], 101.0f);
  EXPECT_EQ(first.getPose()[15], 116.0f);

  step();  // Tracking, lost -> Acquiring; the last pose stays readable
  ASSERT_EQ(resultCount(), 1);
  EXPECT_EQ(firstPoseValue(), 101.0f);
  step();  // Acquiring, found again -> Tracking (nothing new published)
  EXPECT_EQ(firstPoseValue(), 101.0f);
  step();  // Tracking, found -> new pose
  EXPECT_EQ(firstPoseValue(), 301.0f);
  step();  // Tracking, lost -> Acquiring
  EXPECT_EQ(resultCount(), 1);
  step();  // Acquiring, lost: the limit of one failure -> Recognising, result emptied
  EXPECT_EQ(resultCount(), 0);
  step();
  EXPECT_EQ(takeCalls(), (Calls{"track", "track", "track", "track", "track", "track", "track",
                                "clearKeyframe", "recognize 64x48/0"}));
}

// The host's opt-in gives a recognised target more Acquiring frames.
TEST_F(ARManagerTest, AcquiringAttemptsKeepTheTargetForThatManyFrames) {
  AcquisitionOptions options;
  options.acquiringAttempts = 2;
  manager_->setAcquisitionOptions(options);
  startAndInit();
  scriptResults({0, 0}, {12, 0, 12, 12});
  step();  // recognised -> Acquiring
  step();  // fails once: stays Acquiring
  step();  // found -> Tracking
  step();  // lost -> Acquiring
  step();  // fails once: stays
  step();  // fails twice -> Recognising
  step();
  EXPECT_EQ(takeCalls(), (Calls{"recognize 64x48/0", "track", "track", "track", "track", "track",
                                "clearKeyframe", "recognize 64x48/0"}));
}

// The opt-in poses the recognised frame itself; a failure there counts as
// the first Acquiring attempt. (One step lets one engine call through.)
TEST_F(ARManagerTest, AcquireOnRecognisedFramePosesTheSameFrame) {
  AcquisitionOptions options;
  options.acquireOnRecognisedFrame = true;
  options.acquiringAttempts = 2;
  manager_->setAcquisitionOptions(options);
  startAndInit();
  scriptResults({0, 0}, {12, 12, 0, 0});
  step();  // recognised ...
  step();  // ... and not posed on that frame: stays Acquiring
  EXPECT_EQ(script_->trackedSerial, script_->recognisedSerial);
  step();  // fails on a later frame -> Recognising
  EXPECT_NE(script_->trackedSerial, script_->recognisedSerial);
  step();  // recognised ...
  step();  // ... and posed on that frame -> Tracking, nothing published yet
  EXPECT_EQ(script_->trackedSerial, script_->recognisedSerial);
  EXPECT_EQ(resultCount(), 0);
  step();  // tracked
  EXPECT_EQ(resultCount(), 1);
  EXPECT_EQ(takeCalls(), (Calls{"recognize 64x48/0", "track", "track", "clearKeyframe",
                                "recognize 64x48/0", "track", "track"}));
}

TEST_F(ARManagerTest, FramesThatArriveWhileBusyAreDroppedAndTheNewestIsTaken) {
  startAndInit();
  {
    // The thread works on a frame ...
    std::unique_lock<std::mutex> lock(script_->mutex);
    deliverUntil(lock, 64, 48, 50, [&] { return script_->blocked; });
  }
  const int firstBusy = nextSerial_;
  deliver(64, 48, 51);  // ... and these two find it busy
  deliver(64, 48, 52);
  step();  // finishes that frame
  EXPECT_LT(script_->recognisedSerial, firstBusy);
  step();  // the newest: the second busy frame or one delivered since, never the first
  EXPECT_GT(script_->recognisedSerial, firstBusy);
  EXPECT_EQ(takeCalls(), Calls(2, "recognize 64x48/0"));
}

TEST_F(ARManagerTest, FrameSizeChangeReinitialisesTheTrackerOnTheTrackingThread) {
  scriptResults({0}, {0, 0});
  startAndInit();
  step();
  step();
  step();
  ASSERT_EQ(resultCount(), 1);
  takeCalls();
  LogCapture log;
  step(32, 24);  // re-initialisation for the new size
  step(32, 24);  // then recognition from scratch on the new frames
  EXPECT_EQ(takeCalls(), (Calls{"initTracker 32x24/0", "recognize 32x24/0"}));
  EXPECT_EQ(resultCount(), 0);
  EXPECT_EQ(log.count("Frame size changed to 32 x 24 (format 0): initialising the tracker again\n"),
            1);
  EXPECT_EQ(log.count("camera width : 32 height:24"), 1);
  // Frames of the same size keep the tracker as it is.
  step(32, 24);
  EXPECT_EQ(takeCalls(), Calls{"recognize 32x24/0"});
}

TEST_F(ARManagerTest, StartTwiceRunsOneThreadStopWithoutStartIsHarmlessAndRestartReloads) {
  // The restart's tracker initialisation fails: the thread runs all the same.
  LogCapture log;
  manager_->stopTracker();
  manager_->stopTracker();
  EXPECT_EQ(log.count("Stop tracker"), 2);
  startAndInit();
  manager_->startTracker();
  EXPECT_EQ(log.count("Tracker is already running"), 1);
  step();
  EXPECT_EQ(takeCalls(), Calls{"recognize 64x48/0"});
  stopGated();
  EXPECT_EQ(log.count("Exit Tracking thread"), 1);
  EXPECT_EQ(log.count("Stop tracker"), 3);
  takeCalls();
  script_->initResult = 4;
  startAndInit();
  step();
  EXPECT_EQ(takeCalls(), Calls{"recognize 64x48/0"});
  EXPECT_EQ(log.count("Can not init Tracker!!"), 1);
  EXPECT_EQ(log.count("Tracker initialization success !!\n"), 1);
}

TEST_F(ARManagerTest, StopReachesAThreadWithoutFramesEveryTime) {
  // Without frames only the stop signal wakes the thread; a lost signal
  // would hang the join.
  release();
  for (int i = 0; i < 200; ++i) {
    manager_->startTracker();
    manager_->stopTracker();
  }
  EXPECT_TRUE(takeCalls().empty());
}

TEST_F(ARManagerTest, StopWhileFramesArrive) {
  release();
  scriptResults({0});
  std::atomic<bool> feeding{true};
  std::thread feeder([&] {
    while (feeding.load()) deliver(64, 48, 1);
  });
  for (int round = 0; round < 20; ++round) {
    std::unique_lock<std::mutex> lock(script_->mutex);
    const int calls = script_->gatedCalls;
    lock.unlock();
    manager_->startTracker();
    // Stop once the new thread is at work on the frames.
    lock.lock();
    script_->changed.wait(lock, [&] { return script_->gatedCalls > calls; });
    lock.unlock();
    manager_->stopTracker();
  }
  feeding = false;
  feeder.join();
  EXPECT_EQ(takeCalls().front(), "load");
}

TEST_F(ARManagerTest, ALogCallbackMayCallBackInFromEveryThread) {
  // The callback runs on the tracking thread (during the load) and on the
  // capture thread (the camera size); no library lock may be held then.
  static ARManager* manager;
  static std::atomic<int> reentered;
  manager = manager_.get();
  reentered = 0;
  setLogSink([](const char* line) {
    const std::string text(line);
    if (text == "loading\n") {
      manager->addTrackableGroup("from-callback.grp");
      manager->setAppDataDirPath("/elsewhere");
      ++reentered;
    } else if (text == "camera width : 64 height:48") {
      // Same layout as the test's frames: whichever of the two the thread
      // takes first, it initialises for 64 x 48 colour.
      std::vector<uint8_t> colour(64 * 48 * 3, 9);
      manager->onPreviewFrame(colour.data(), 64 * 48 * 3, 64, 48, 0);
      ++reentered;
    }
  });
  startAndInit();
  step();
  stopGated();
  setLogSink(nullptr);
  EXPECT_EQ(reentered.load(), 2);
}

TEST_F(ARManagerTest, BadFramesAreLoggedAndSkipped) {
  LogCapture log;
  std::vector<uint8_t> small(10, 0);
  manager_->onPreviewFrame(nullptr, 9216, 64, 48, 0);
  manager_->onPreviewFrame(small.data(), 10, 64, 48, 0);
  manager_->onPreviewFrame(small.data(), 10, 0, 48, 0);
  manager_->onPreviewFrame(small.data(), 10, 2, 2, 5);
  // One line each for the first bad frames of each kind; a second of the
  // same kind within a second is counted, not logged.
  // None of them counts as a frame: the camera size is still unknown.
  EXPECT_EQ(log.snapshot(),
            (Calls{"onPreviewFrame: frame ignored (64 x 48, format 0)\n",
                   "onPreviewFrame: frame of 10 bytes too small for 64 x 48, format 0\n"}));
  // A grey frame of the same size needs a third of the bytes.
  std::vector<uint8_t> grey(64 * 48, 3);
  manager_->onPreviewFrame(grey.data(), 64 * 48, 64, 48, 1);
  EXPECT_EQ(log.count("camera width : 64 height:48"), 1);
}

}  // namespace
}  // namespace vornik
