#include "manager/profiler.h"

#include <mutex>

#include "manager/log.h"
#include "platform/clock.h"

namespace vornik {
namespace {

const char* const kTimerNames[kTimerCount] = {
    "TOTAL",
    "PREPROCESSING",
    "TRACKING",
    "PREPARING",
    "COARSE-MATCHING",
    "COARSE-POSING",
    "FINE-MATCHING",
    "FINE-POSING",
    "RECOG-INITPOSE-TOTAL",
    "RECOGNITION-TOTAL",
    "RECOGNITION-PYRAMID",
    "RECOGNITION-DETECTION",
    "RECOGNITION-DESCRIPTION",
    "RECOGNITION-MATCHING",
    "RECOGNITIONOPT-TOTAL",
    "RECOGNITIONOPT-PYRAMID",
    "RECOGNITIONOPT-DETECTION",
    "RECOGNITIONOPT-DESCRIPTION",
    "RECOGNITIONOPT-MATCHING",
    "INITPOSE-TOTAL",
    "INITPOSE-INTEGRAL",
    "INITPOSE-DETECTION",
    "INITPOSE-DESCRIPTION",
    "INITPOSE-MATCHING",
    "INITPOSE-CALCPOSE",
    "INITPOSE-CALCPOSE-RANSAC",
    "INITPOSE-CALCPOSE-ETC",
    "INITPOSE-CALCPOSE-DECOMPOSITION",
};

std::map<int32_t, TimerRecord>& timerMap() {
  // Never destroyed: a tracking thread that is still being stopped while the
  // process exits may report its timers after the static destructors ran.
  static auto* timers = new std::map<int32_t, TimerRecord>();
  return *timers;
}

// Start and stop come from whichever thread runs an engine: the tracking
// thread, a test driver, or several builder threads extracting features at
// once.
std::mutex& timerMutex() {
  static auto* mutex = new std::mutex();
  return *mutex;
}

}  // namespace

const char* timerName(int32_t id) {
  if (id < 0 || id >= kTimerCount) return nullptr;
  return kTimerNames[id];
}

void startTimer(TimerId id) {
  const int32_t now = processClockMs();
  std::lock_guard<std::mutex> lock(timerMutex());
  timerMap()[id].start = now;
}

void stopTimer(TimerId id) {
  const int32_t now = processClockMs();
  std::lock_guard<std::mutex> lock(timerMutex());
  auto& timers = timerMap();
  auto it = timers.find(id);
  if (it == timers.end()) return;
  TimerRecord& record = it->second;
  int32_t elapsed = now - record.start;
  record.count += 1;
  record.accumulated += static_cast<float>(elapsed) / 1000.0f * 1000.0f;
  if (record.count % kTimerBlockSize == 0) {
    record.averages.push_back(record.accumulated / 10.0f);
    record.count = 0;
    record.accumulated = 0.0f;
  }
}

void clearTimers() {
  std::lock_guard<std::mutex> lock(timerMutex());
  timerMap().clear();
}

void printTimer(TimerId id) {
  std::lock_guard<std::mutex> lock(timerMutex());
  const auto& timers = timerMap();
  auto it = timers.find(id);
  if (it == timers.end()) return;
  const TimerRecord& record = it->second;
  if (record.averages.empty() || record.count % kTimerBlockSize != 0) return;
  traceMessage("%s : %fms\n", timerName(id), static_cast<double>(record.averages.back()));
}

const std::map<int32_t, TimerRecord>& timerRecords() { return timerMap(); }

}  // namespace vornik
