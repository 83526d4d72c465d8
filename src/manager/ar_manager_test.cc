#include "manager/ar_manager.h"

#include <pthread.h>

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

// What the scripted engines were told and what they answer. Every recognize,
// track and initTracker call needs a permit, so a test advances the tracking
// thread exactly one engine call at a time whatever the frame timing.
struct Script {
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
  int32_t initTrackerResult = 0;
  std::vector<std::string> loadedGroups;
  std::string loadedAssetDir;
  std::string loadedAppDataDir;
  std::vector<std::string> recognitionsSeenByTrack;
  uint8_t lastFrameByte = 0;
  float nextPoseBase = 1.0f;

  void gate(std::unique_lock<std::mutex>& lock) {
    inStep = true;
    blocked = true;
    changed.notify_all();
    changed.wait(lock, [&] { return permits > 0 || freeRunning; });
    blocked = false;
    if (permits > 0) --permits;
  }
  void finishGated() {
    ++gatedCalls;
    changed.notify_all();
  }
};

class ScriptedEngines : public TrackingEngines {
 public:
  explicit ScriptedEngines(std::shared_ptr<Script> script) : script_(std::move(script)) {}

  void loadTrackerData(const std::string& assetDirPath, const std::string& appDataDirPath,
                       const std::vector<std::string>& groups) override {
    {
      std::lock_guard<std::mutex> lock(script_->mutex);
      script_->calls.push_back("load");
      script_->loadedAssetDir = assetDirPath;
      script_->loadedAppDataDir = appDataDirPath;
      script_->loadedGroups = groups;
    }
    // As the database does while it loads.
    logMessage("loading\n");
  }
  void initRecognizer() override {
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->calls.push_back("initRecognizer");
  }
  int32_t initTracker(int32_t width, int32_t height, int32_t pixelFormat) override {
    std::unique_lock<std::mutex> lock(script_->mutex);
    script_->gate(lock);
    script_->calls.push_back("initTracker " + size(width, height, pixelFormat));
    script_->finishGated();
    return script_->initTrackerResult;
  }
  int32_t recognize(int32_t width, int32_t height, int32_t pixelFormat, const uint8_t* pixels,
                    std::string& result, std::string hint) override {
    std::unique_lock<std::mutex> lock(script_->mutex);
    script_->gate(lock);
    EXPECT_TRUE(hint.empty());
    script_->lastFrameByte = pixels[static_cast<size_t>(width) * height - 1];
    script_->calls.push_back("recognize " + size(width, height, pixelFormat));
    int32_t status = pop(script_->recognizeResults, 10);
    if (status == 0) result = kRecognition;
    script_->finishGated();
    return status;
  }
  int32_t track(const uint8_t* pixels, Trackable& trackable, std::string hint,
                std::string recognition) override {
    std::unique_lock<std::mutex> lock(script_->mutex);
    script_->gate(lock);
    EXPECT_TRUE(hint.empty());
    script_->lastFrameByte = pixels[0];
    script_->calls.push_back("track");
    script_->recognitionsSeenByTrack.push_back(recognition);
    int32_t status = pop(script_->trackResults, 12);
    if (status == 0) {
      for (int i = 0; i < 16; ++i) trackable.pose()[i] = script_->nextPoseBase + i;
      trackable.setId("cover");
      trackable.setName("Cover");
      trackable.setWidth(300.0f);
      trackable.setHeight(200.0f);
      script_->nextPoseBase += 100.0f;
    }
    script_->finishGated();
    return status;
  }
  void clearKeyframeTarget() override {
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->calls.push_back("clearKeyframe");
  }
  void frameStepFinished() override {
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->inStep = false;
    script_->changed.notify_all();
  }

 private:
  static std::string size(int32_t w, int32_t h, int32_t f) {
    return std::to_string(w) + "x" + std::to_string(h) + "/" + std::to_string(f);
  }
  static int32_t pop(std::deque<int32_t>& queue, int32_t fallback) {
    if (queue.empty()) return fallback;
    int32_t v = queue.front();
    queue.pop_front();
    return v;
  }
  std::shared_ptr<Script> script_;
};

class ARManagerTest : public ::testing::Test {
 protected:
  ARManagerTest()
      : script_(std::make_shared<Script>()),
        manager_(std::make_unique<ARManager>(std::make_unique<ScriptedEngines>(script_))) {}

  ~ARManagerTest() override {
    release();
    manager_->stopTracker();
  }

  void deliver(int32_t width, int32_t height, uint8_t fill, int32_t pixelFormat = 0) {
    const int32_t bytes = width * height * (pixelFormat == 0 ? 3 : 1);
    std::vector<uint8_t> frame(static_cast<size_t>(bytes), fill);
    manager_->onPreviewFrame(frame.data(), bytes, width, height, pixelFormat);
  }

  // Lets exactly one more engine call through, delivering frames of the given
  // size until the tracking thread has made it, then waits (delivering
  // nothing more) until it has finished that frame or waits inside the same
  // frame for the next permit. Frames delivered before the call that the
  // thread did not take found it busy: their wake-ups are lost, so the next
  // step's frames are the ones processed.
  void step(int32_t width = 64, int32_t height = 48, uint8_t fill = 7) {
    std::unique_lock<std::mutex> lock(script_->mutex);
    const int target = script_->gatedCalls + 1;
    ++script_->permits;
    script_->changed.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (script_->gatedCalls < target) {
      lock.unlock();
      deliver(width, height, fill);
      lock.lock();
      // Polls: a frame that found the thread busy wakes nobody.
      script_->changed.wait_for(lock, std::chrono::milliseconds(5));
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "tracking thread never called";
    }
    script_->changed.wait(lock, [&] { return !script_->inStep || script_->blocked; });
  }

  // Delivers one frame and waits until the thread is inside a gated engine
  // call for it, without a permit.
  void deliverAndWaitUntilBlocked(uint8_t fill) {
    std::unique_lock<std::mutex> lock(script_->mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!script_->blocked) {
      lock.unlock();
      deliver(64, 48, fill);
      lock.lock();
      script_->changed.wait_for(lock, std::chrono::milliseconds(5));
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "tracking thread never called";
    }
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
    script_->freeRunning = false;
    script_->permits = 0;
    script_->inStep = false;
    script_->blocked = false;
  }

  Calls calls() {
    std::lock_guard<std::mutex> lock(script_->mutex);
    return script_->calls;
  }
  Calls takeCalls() {
    std::lock_guard<std::mutex> lock(script_->mutex);
    Calls c;
    c.swap(script_->calls);
    return c;
  }
  void scriptRecognize(std::initializer_list<int32_t> results) {
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->recognizeResults.insert(script_->recognizeResults.end(), results);
  }
  void scriptTrack(std::initializer_list<int32_t> results) {
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->trackResults.insert(script_->trackResults.end(), results);
  }
  int resultCount() { return manager_->getTrackingResult().getCount(); }

  // Starts the tracker and lets the Init iteration run.
  void startAndInit() {
    manager_->startTracker();
    step();
    EXPECT_EQ(takeCalls(), (Calls{"load", "initRecognizer", "initTracker 64x48/0"}));
  }

  std::shared_ptr<Script> script_;
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
  EXPECT_EQ(script_->loadedAppDataDir, "/data/app");
  EXPECT_EQ(script_->loadedAssetDir, "/data/assets");
  EXPECT_EQ(script_->loadedGroups, (std::vector<std::string>{"a.grp", "b.grp"}));
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
  scriptRecognize({10, 0});
  step();  // Recognising, not recognised: stays
  step();  // Recognising, recognised -> Acquiring
  EXPECT_EQ(takeCalls(), (Calls{"recognize 64x48/0", "recognize 64x48/0"}));

  scriptTrack({0, 0, 12, 0, 0, 12, 12});
  step();  // Acquiring, found -> Tracking; nothing published yet
  EXPECT_EQ(resultCount(), 0);
  step();  // Tracking, found -> published
  ASSERT_EQ(resultCount(), 1);
  const ITrackable& first = manager_->getTrackingResult().getTrackable(0);
  EXPECT_EQ(first.getId(), "cover");
  EXPECT_EQ(first.getName(), "Cover");
  EXPECT_EQ(first.getPose()[0], 101.0f);
  EXPECT_EQ(first.getPose()[15], 116.0f);
  EXPECT_EQ(first.getWidth(), 300.0f);

  step();  // Tracking, lost -> Acquiring; the last pose stays readable
  ASSERT_EQ(resultCount(), 1);
  EXPECT_EQ(manager_->getTrackingResult().getTrackable(0).getPose()[0], 101.0f);
  step();  // Acquiring, found again -> Tracking (nothing new published)
  EXPECT_EQ(manager_->getTrackingResult().getTrackable(0).getPose()[0], 101.0f);
  step();  // Tracking, found -> new pose
  EXPECT_EQ(manager_->getTrackingResult().getTrackable(0).getPose()[0], 301.0f);
  step();  // Tracking, lost -> Acquiring
  EXPECT_EQ(resultCount(), 1);
  step();  // Acquiring, lost: the limit of one failure -> Recognising, result emptied
  EXPECT_EQ(resultCount(), 0);
  step();
  EXPECT_EQ(takeCalls(), (Calls{"track", "track", "track", "track", "track", "track", "track",
                                "clearKeyframe", "recognize 64x48/0"}));
  for (const std::string& seen : script_->recognitionsSeenByTrack) EXPECT_EQ(seen, kRecognition);
}

TEST_F(ARManagerTest, AcquiringFailureRightAfterRecognitionReturnsToRecognising) {
  startAndInit();
  scriptRecognize({0});
  scriptTrack({12});
  step();
  step();
  step();
  EXPECT_EQ(takeCalls(),
            (Calls{"recognize 64x48/0", "track", "clearKeyframe", "recognize 64x48/0"}));
  EXPECT_EQ(resultCount(), 0);
}

TEST_F(ARManagerTest, TrackerInitialisationFailureStillEntersRun) {
  script_->initTrackerResult = 4;
  LogCapture log;
  startAndInit();
  step();
  EXPECT_EQ(takeCalls(), Calls{"recognize 64x48/0"});
  EXPECT_EQ(log.count("Can not init Tracker!!"), 1);
  EXPECT_EQ(log.count("Tracker initialization success !!\n"), 0);
}

TEST_F(ARManagerTest, FramesThatArriveWhileBusyAreDroppedAndTheNewestIsTaken) {
  startAndInit();
  step(64, 48, 42);
  EXPECT_EQ(script_->lastFrameByte, 42);
  deliverAndWaitUntilBlocked(50);  // the thread works on 50 ...
  deliver(64, 48, 51);             // ... and these two find it busy
  deliver(64, 48, 52);
  step(64, 48, 53);  // finishes 50
  EXPECT_EQ(script_->lastFrameByte, 50);
  step(64, 48, 53);
  EXPECT_EQ(script_->lastFrameByte, 53);
  EXPECT_EQ(takeCalls(), Calls(3, "recognize 64x48/0"));
}

TEST_F(ARManagerTest, FrameSizeChangeReinitialisesTheTrackerOnTheTrackingThread) {
  scriptRecognize({0});
  scriptTrack({0, 0});
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
  EXPECT_TRUE(log.containsPrefix("Frame size changed to 32 x 24"));
  EXPECT_EQ(log.count("camera width : 32 height:24"), 1);
  // Frames of the same size keep the tracker as it is.
  step(32, 24);
  EXPECT_EQ(takeCalls(), Calls{"recognize 32x24/0"});
}

TEST_F(ARManagerTest, StartTwiceRunsOneThreadAndStopWithoutStartIsHarmless) {
  LogCapture log;
  manager_->stopTracker();
  manager_->stopTracker();
  EXPECT_EQ(log.count("Stop tracker"), 2);
  startAndInit();
  manager_->startTracker();
  EXPECT_EQ(log.count("Tracker is already running"), 1);
  step();
  EXPECT_EQ(takeCalls(), Calls{"recognize 64x48/0"});
  release();
  manager_->stopTracker();
  EXPECT_EQ(log.count("Exit Tracking thread"), 1);
  EXPECT_EQ(log.count("Stop tracker"), 3);
}

TEST_F(ARManagerTest, StartAfterStopReloadsAndInitialisesAgain) {
  startAndInit();
  stopGated();
  takeCalls();
  startAndInit();
  step();
  EXPECT_EQ(takeCalls(), Calls{"recognize 64x48/0"});
}

TEST_F(ARManagerTest, StopReachesAThreadWithoutFramesEveryTime) {
  // Without frames only the stop signal wakes the thread; a lost signal
  // would hang the join.
  release();
  for (int i = 0; i < 200; ++i) {
    manager_->startTracker();
    manager_->stopTracker();
  }
  EXPECT_TRUE(calls().empty());
}

TEST_F(ARManagerTest, StopWhileFramesArrive) {
  release();
  scriptRecognize({0});
  std::atomic<bool> feeding{true};
  std::thread feeder([&] {
    while (feeding.load()) deliver(64, 48, 1);
  });
  for (int round = 0; round < 20; ++round) {
    int calls = 0;
    {
      std::lock_guard<std::mutex> lock(script_->mutex);
      calls = script_->gatedCalls;
    }
    manager_->startTracker();
    {
      // Stop once the new thread is at work on the frames.
      std::unique_lock<std::mutex> lock(script_->mutex);
      script_->changed.wait(lock, [&] { return script_->gatedCalls > calls; });
    }
    manager_->stopTracker();
  }
  feeding = false;
  feeder.join();
  EXPECT_EQ(calls().front(), "load");
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
  EXPECT_EQ(log.snapshot().size(), 2u);
  EXPECT_TRUE(log.containsPrefix("onPreviewFrame: frame of 10 bytes too small for 64 x 48"));
  // None of them counts as a frame: the camera size is still unknown.
  EXPECT_EQ(log.count("camera width : 64 height:48"), 0);
  // A grey frame of the same size needs a third of the bytes.
  std::vector<uint8_t> grey(64 * 48, 3);
  manager_->onPreviewFrame(grey.data(), 64 * 48, 64, 48, 1);
  EXPECT_EQ(log.count("camera width : 64 height:48"), 1);
}

TEST_F(ARManagerTest, ResultSnapshotsAndInjectedResults) {
  EXPECT_EQ(resultCount(), 0);
  Trackable trackable;
  trackable.setId("poster");
  trackable.pose()[12] = 5.0f;
  manager_->setTrackingResult(trackable);
  trackable.setId("changed");
  ITrackingResult& snapshot = manager_->getTrackingResult();
  ASSERT_EQ(snapshot.getCount(), 1);
  EXPECT_EQ(snapshot.getTrackable(0).getId(), "poster");
  EXPECT_EQ(snapshot.getTrackable(0).getPose()[12], 5.0f);
  // Reading again gives the same single trackable, not an accumulation.
  EXPECT_EQ(manager_->getTrackingResult().getCount(), 1);
}

}  // namespace
}  // namespace vornik
