#pragma once
#include <cstdint>
#include <map>
#include <vector>

namespace vornik {

// Fixed table of named timers; the numbers are part of the report format.
enum TimerId : int32_t {
  kTimerTotal = 0,
  kTimerPreprocessing = 1,
  kTimerTracking = 2,
  kTimerPreparing = 3,
  kTimerCoarseMatching = 4,
  kTimerCoarsePosing = 5,
  kTimerFineMatching = 6,
  kTimerFinePosing = 7,
  kTimerRecogInitPoseTotal = 8,
  kTimerRecognitionTotal = 9,
  kTimerRecognitionPyramid = 10,
  kTimerRecognitionDetection = 11,
  kTimerRecognitionDescription = 12,
  kTimerRecognitionMatching = 13,
  kTimerRecognitionOptTotal = 14,
  kTimerRecognitionOptPyramid = 15,
  kTimerRecognitionOptDetection = 16,
  kTimerRecognitionOptDescription = 17,
  kTimerRecognitionOptMatching = 18,
  kTimerInitPoseTotal = 19,
  kTimerInitPoseIntegral = 20,
  kTimerInitPoseDetection = 21,
  kTimerInitPoseDescription = 22,
  kTimerInitPoseMatching = 23,
  kTimerInitPoseCalcPose = 24,
  kTimerInitPoseCalcPoseRansac = 25,
  kTimerInitPoseCalcPoseEtc = 26,
  kTimerInitPoseCalcPoseDecomposition = 27,
};
constexpr int32_t kTimerCount = 28;
// Samples averaged into one entry of TimerRecord::averages.
constexpr int32_t kTimerBlockSize = 10;

struct TimerRecord {
  int32_t start = 0;            // clock reading at the last startTimer, ms
  float accumulated = 0.0f;     // ms summed over the current block
  std::vector<float> averages;  // mean ms of every completed block
  int32_t count = 0;            // samples in the current block, 0..9
};

// Name of a timer as it appears in reports ("TOTAL", "INITPOSE-MATCHING", ...);
// null for an id outside the table.
const char* timerName(int32_t id);

// Timers may be started and stopped from several threads; a timer's figures
// are only meaningful when one thread at a time runs the stage it measures.
void startTimer(TimerId id);
void stopTimer(TimerId id);
void clearTimers();
// Traces "%s : %fms\n" with the last average right after a block completed.
void printTimer(TimerId id);
// Read access for the test reports, while no timer runs.
const std::map<int32_t, TimerRecord>& timerRecords();

}  // namespace vornik
