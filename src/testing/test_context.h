#pragma once
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "database/ardb_mngr.h"
#include "manager/candidate_acquisition.h"
#include "recognition/recognizer.h"
#include "tracking/tracker.h"
#include "vornik/vornik.h"

namespace vornik {

// Position of a tracking test (mode 2) in its image sequence.
enum TestTrackState : int32_t {
  kTestRecognise = 0,
  kTestInitialPose = 1,
  kTestTracking = 2,
};

// State of the still-image tests, kept across calls of the test functions.
struct TestContext {
  int32_t format = 0;  // 0 = 3 bytes per pixel B, G, R; 1 = one grey byte
  TestModeEnum mode = static_cast<TestModeEnum>(0);
  std::shared_ptr<Recognizer> recognizer;
  std::shared_ptr<Tracker> tracker;
  std::shared_ptr<ArdbMngr> ardbMngr;
  // Recognition and initial pose over the recognizer's pose candidates.
  CandidateAcquisition acquisition;
  std::ofstream report;
  int32_t trackState = kTestRecognise;
  // The host's acquiring attempts (taken at startTest) and the failed
  // initial poses in a row of the recognised target.
  int32_t acquiringAttempts = 1;
  int32_t initialPoseFailures = 0;
  // The first image of a started test has been handed to the AR manager.
  bool initialised = false;
  // Size the tracker was last initialised for; a later image of another size
  // initialises it again (it reads frames of exactly this size).
  int32_t trackerWidth = 0;
  int32_t trackerHeight = 0;
  // The recogniser's result text, and the empty second string of the engines.
  std::string recognitionResult;
  const std::string emptyHint;
};

}  // namespace vornik
