#include "testing/test_harness.h"

#include <cstdio>
#include <iostream>
#include <utility>

#include "manager/log.h"
#include "manager/profiler.h"
#include "manager/trackable.h"
#include "platform/clock.h"
#include "render/renderer_gl.h"

namespace vornik {
namespace {

constexpr char kRecognitionHeader[] =
    "Image name, Find Similar Image Result, TrackableId, Find Similar Image Time, Initial Pose "
    "Result, Initial Pose Time";
constexpr char kTrackingHeader[] = "Image name, Track Image Result, Track Image Time";

// Timers summarised by testRecognizer, and those after which a line ends.
constexpr int32_t kFirstSummaryTimer = kTimerRecogInitPoseTotal;
constexpr int32_t kLastSummaryTimer = kTimerInitPoseCalcPoseDecomposition;
// The detection and description of the unoptimised recognition ran on three
// levels but were timed on one.
constexpr float kThreeLevelFactor = 3.0f;

bool endsSummaryLine(int32_t id) {
  return id == kTimerRecogInitPoseTotal || id == kTimerRecognitionMatching ||
         id == kTimerRecognitionOptMatching;
}

// Every report line is flushed so that a crash of the host keeps what was written.
void endLine(std::ofstream& report) { report << std::endl; }

}  // namespace

TestHarness::TestHarness(std::shared_ptr<ARManager> manager,
                         std::shared_ptr<CameraPreviewCallback> renderer)
    : manager_(std::move(manager)), renderer_(std::move(renderer)) {}

void TestHarness::takeEngines() {
  context_.ardbMngr = manager_->getArdbMngr();
  context_.recognizer = manager_->getRecognizer();
  context_.tracker = manager_->getTracker();
}

void TestHarness::startTest(TestModeEnum mode, const std::string& reportPath, int width,
                            int height) {
  context_.mode = mode;
  takeEngines();
  manager_->loadTrackerData();
  manager_->getCameraCalibration()->setWindowSize(width, height, manager_->portraitMode());
  context_.recognizer->init(context_.ardbMngr);
  context_.tracker->setInitialPoseOptions(manager_->initialPoseOptions());
  context_.recognizer->setOptions(manager_->recognitionOptions());
  applyTrackingOptions(manager_->trackingOptions(), context_.tracker.get());
  context_.acquiringAttempts = manager_->acquisitionOptions().acquiringAttempts;
  context_.initialPoseFailures = 0;
  // open() fails on a stream that is still open and clears the state on success.
  context_.report.open(reportPath, std::ios::out | std::ios::trunc);
  if (!context_.report.is_open() || !context_.report.good()) {
    context_.report.setstate(std::ios::failbit);
    logMessage("startTest: report %s not opened, nothing will be written\n", reportPath.c_str());
  }
  if (mode == TEST_RECOGNITION) {
    context_.report << kRecognitionHeader;
    endLine(context_.report);
  } else if (mode == TEST_TRACKING) {
    context_.report << kTrackingHeader;
    endLine(context_.report);
  }
}

bool TestHarness::imageFits(const unsigned char* pixels, int byteSize, int width, int height,
                            int32_t format) const {
  if (pixels == nullptr || width <= 0 || height <= 0) return false;
  const int64_t needed = int64_t{width} * height * (format == 1 ? 1 : 3);
  return int64_t{byteSize} >= needed;
}

int32_t TestHarness::formatFor(int format) const {
  return format == 0 || format == 1 ? format : context_.format;
}

void TestHarness::adoptImage(const unsigned char* pixels, int byteSize, int width, int height,
                             int format) {
  context_.format = formatFor(format);
  manager_->onPreviewFrame(pixels, byteSize, width, height, format);
  context_.tracker->init(width, height, context_.format, context_.ardbMngr);
  context_.trackerWidth = width;
  context_.trackerHeight = height;
}

int32_t TestHarness::recognize(const unsigned char* pixels, int width, int height) {
  return context_.acquisition.recognize(context_.recognizer.get(), context_.tracker.get(), width,
                                        height, context_.format, pixels, context_.recognitionResult,
                                        context_.emptyHint);
}

int32_t TestHarness::track(const unsigned char* pixels, Trackable* trackable) {
  return context_.acquisition.track(context_.tracker.get(), pixels, *trackable, context_.emptyHint,
                                    context_.recognitionResult);
}

void TestHarness::clearKeyframeTarget() { context_.tracker->setKeyframeTargetId(std::string()); }

void TestHarness::trackNextImage(const std::string& name, const unsigned char* pixels, int byteSize,
                                 int width, int height, int format) {
  if (pixels == nullptr) return;
  if (!context_.tracker) takeEngines();
  // The first image, or one of another size, is adopted with its own format;
  // later images keep the format the tracker was initialised with. The buffer
  // is checked against the format it will be read with before anything
  // changes, so a refused image leaves the test as it was.
  const bool resize =
      context_.initialised && (width != context_.trackerWidth || height != context_.trackerHeight);
  const bool adopt = !context_.initialised || resize;
  const int32_t imageFormat = adopt ? formatFor(format) : context_.format;
  if (!imageFits(pixels, byteSize, width, height, imageFormat)) {
    logMessage("test image %s of %d bytes does not hold %d x %d pixels of format %d: ignored\n",
               name.c_str(), byteSize, width, height, imageFormat);
    return;
  }
  if (resize) {
    logMessage("test image %s is %d x %d: initialising the tracker again\n", name.c_str(), width,
               height);
    context_.trackState = kTestRecognise;
    context_.initialPoseFailures = 0;
  }
  if (adopt) {
    adoptImage(pixels, byteSize, width, height, format);
    context_.initialised = true;
  }

  context_.report << name << ",";
  const int32_t t0 = processClockMs();
  logMessage("Imge name : %s", name.c_str());
  if (context_.mode == TEST_RECOGNITION) {
    trackRecognition(pixels, width, height, t0);
  } else if (context_.mode == TEST_TRACKING) {
    trackSequence(pixels, width, height, t0);
  }
}

void TestHarness::trackRecognition(const unsigned char* pixels, int width, int height, int32_t t0) {
  std::ofstream& report = context_.report;
  if (recognize(pixels, width, height) != kRecognized) {
    report << "Fail"
           << "," << processClockMs() - t0;
    endLine(report);
    return;
  }
  const int32_t recognitionMs = processClockMs() - t0;
  const int32_t t1 = processClockMs();
  Trackable trackable;
  const int32_t code = track(pixels, &trackable);
  const int32_t poseMs = processClockMs() - t1;
  if (code != kTrackOk && !context_.acquisition.won()) {
    // Candidates alone, none posed: nothing was recognised.
    report << "Fail"
           << "," << processClockMs() - t0;
    endLine(report);
    return;
  }
  // The line names the target the pose was found for: a runner-up
  // candidate's where the strongest gave none.
  report << "Success"
         << "," << context_.acquisition.trackedText(context_.recognitionResult) << ","
         << recognitionMs << ",";
  if (code != kTrackOk) {
    report << "Fail"
           << "," << poseMs;
    endLine(report);
    return;
  }
  report << "Success"
         << "," << poseMs;
  endLine(report);
  manager_->setTrackingResult(trackable);
  clearKeyframeTarget();
}

void TestHarness::trackSequence(const unsigned char* pixels, int width, int height, int32_t t0) {
  std::ofstream& report = context_.report;
  // One image may pass through several states within one call.
  bool candidatesOnly = false;
  if (context_.trackState == kTestRecognise) {
    if (recognize(pixels, width, height) != kRecognized) {
      report << "Recognition fail"
             << "," << processClockMs() - t0;
      endLine(report);
      return;
    }
    candidatesOnly = !context_.acquisition.won();
    context_.trackState = kTestInitialPose;
  }
  if (context_.trackState == kTestInitialPose) {
    Trackable trackable;
    if (track(pixels, &trackable) != kTrackOk) {
      if (candidatesOnly) {
        // No target won this image and none of its candidates was posed.
        report << "Recognition fail"
               << "," << processClockMs() - t0;
        endLine(report);
        clearKeyframeTarget();
        context_.trackState = kTestRecognise;
        return;
      }
      report << "Initial pose fail"
             << "," << processClockMs() - t0;
      endLine(report);
      clearKeyframeTarget();
      // The next image tries the same target again while attempts remain.
      if (++context_.initialPoseFailures >= context_.acquiringAttempts) {
        context_.initialPoseFailures = 0;
        context_.trackState = kTestRecognise;
      }
      return;
    }
    context_.initialPoseFailures = 0;
    context_.trackState = kTestTracking;
  }
  Trackable trackable;
  if (track(pixels, &trackable) != kTrackOk) {
    report << "Tracking fail"
           << "," << processClockMs() - t0;
    endLine(report);
    context_.trackState = kTestRecognise;
    return;
  }
  report << "Success"
         << "," << processClockMs() - t0;
  endLine(report);
  manager_->setTrackingResult(trackable);
}

void TestHarness::renderNextImage(const unsigned char* pixels, int byteSize, int width, int height,
                                  int format) {
  if (renderer_) renderer_->onPreviewFrame(pixels, byteSize, width, height, format);
}

void TestHarness::endTest() {
  if (context_.report.is_open()) context_.report.close();
  context_.initialised = false;
}

void TestHarness::testRecognizer(const unsigned char* pixels, const std::string& name, int width,
                                 int height, int byteSize, int format, std::ofstream& out) {
  if (!context_.tracker) takeEngines();
  // Checked first, against the format the image will be read with.
  const bool adopt =
      firstRecognizerTest_ || width != context_.trackerWidth || height != context_.trackerHeight;
  const int32_t imageFormat = adopt ? formatFor(format) : context_.format;
  if (!imageFits(pixels, byteSize, width, height, imageFormat)) {
    logMessage(
        "testRecognizer: image %s of %d bytes does not hold %d x %d pixels of format %d: "
        "ignored\n",
        name.c_str(), byteSize, width, height, imageFormat);
    return;
  }
  if (firstRecognizerTest_) {
    firstRecognizerTest_ = false;
    manager_->loadTrackerData();
    if (context_.recognizer->init(context_.ardbMngr) != 0) {
      std::cout << "Can not read the image database" << std::endl;
      return;
    }
    std::cout << "Reconizer initialization success !!" << std::endl;
  }
  if (adopt) adoptImage(pixels, byteSize, width, height, format);
  std::cout << "Tracker initialization success !!" << std::endl;

  int recognisePasses = 0;
  int initialPosePasses = 0;
  bool found = false;
  startTimer(kTimerRecogInitPoseTotal);
  for (int pass = 0; pass < kRecognizerTestPasses; ++pass) {
    if (context_.trackState == kTestRecognise) {
      ++recognisePasses;
    } else if (context_.trackState == kTestInitialPose) {
      ++initialPosePasses;
    }
    if (manager_->processFrame(pixels, width, height, context_.format)) {
      found = true;
      break;
    }
  }
  stopTimer(kTimerRecogInitPoseTotal);

  out << name << std::endl;
  std::cout << (found ? "success" : "fail") << " : " << recognisePasses << "-" << initialPosePasses
            << std::endl;
  out << (found ? "success" : "fail") << " : " << recognisePasses << "-" << initialPosePasses
      << std::endl;
  writeTimerSummary(out);
  out << std::endl;
  clearKeyframeTarget();
  context_.trackState = kTestRecognise;
  context_.initialPoseFailures = 0;
  clearTimers();
}

void TestHarness::writeTimerSummary(std::ostream& out) const {
  const std::map<int32_t, TimerRecord>& timers = timerRecords();
  for (int32_t id = kFirstSummaryTimer; id <= kLastSummaryTimer; ++id) {
    const auto it = timers.find(id);
    if (it == timers.end() || it->second.count <= 0) continue;
    float mean = it->second.accumulated / static_cast<float>(it->second.count);
    if (mean < 0.0f) continue;
    if (id == kTimerRecognitionDetection || id == kTimerRecognitionDescription) {
      mean *= kThreeLevelFactor;
    }
    out << "(" << timerName(id) << ":" << mean << "), ";
    if (endsSummaryLine(id)) out << std::endl;
  }
}

TestHarness& processTestHarness() {
  // Created on first use and never destroyed: exported functions may still
  // be called while other statics are torn down.
  static TestHarness* harness =
      new TestHarness(ARManager::getInstance(), RendererGL::getInstance());
  return *harness;
}

}  // namespace vornik
