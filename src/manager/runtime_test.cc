// Log, profiler, trackables and results.
#include <cstdio>
#include <regex>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "manager/log.h"
#include "manager/log_capture_for_test.h"
#include "manager/profiler.h"
#include "manager/throttled_log.h"
#include "manager/trackable.h"
#include "manager/tracking_result.h"

namespace vornik {
namespace {

TEST(Log, FormatsAndCutsOverLongMessagesAtTheBuffer) {
  LogCapture log;
  logMessage("%s %d", "CameraCalibration", 54);
  const std::string longText(5000, 'x');
  logMessage("<%s>", longText.c_str());
  const auto lines = log.snapshot();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "CameraCalibration 54");
  EXPECT_EQ(lines[1].size(), static_cast<size_t>(kLogBufferSize - 1));
  EXPECT_EQ(lines[1], "<" + std::string(kLogBufferSize - 2, 'x'));
}

TEST(Log, PublicCallbackRoutesAndNullRestores) {
  LogCapture capture;
  static std::string received;
  received.clear();
  setLogCallback([](const char* line) { received += line; });
  logMessage("one\n");
  setLogCallback(nullptr);
  logMessage("to stderr\n");
  EXPECT_EQ(received, "one\n");
  EXPECT_TRUE(capture.snapshot().empty());
}

TEST(Log, TracesAreDiscardedUnlessASinkIsSet) {
  LogCapture log;
  traceMessage("hidden %d\n", 1);
  EXPECT_TRUE(log.snapshot().empty());
  LogCapture traces(true);
  traceMessage("shown %d\n", 2);
  EXPECT_EQ(traces.snapshot(), std::vector<std::string>{"shown 2\n"});
}

TEST(ThrottledLog, FirstLineAtOnceThenOnePerIntervalWithTheCount) {
  LogCapture log;
  ThrottledLog throttle(1000);
  throttle.logAt(5000, "bad frame\n");
  for (int64_t t = 5030; t < 6000; t += 30) throttle.logAt(t, "bad frame\n");  // 33 swallowed
  throttle.logAt(6000, "bad frame\n");
  throttle.logAt(6010, "bad frame\n");
  throttle.logAt(9000, "no line end");
  throttle.logAt(9001, "no line end");
  throttle.logAt(20000, "quiet again\n");
  EXPECT_EQ(log.snapshot(), (std::vector<std::string>{
                                "bad frame\n",
                                "bad frame (and 33 more like it since the last report)\n",
                                "no line end (and 1 more like it since the last report)",
                                "quiet again (and 1 more like it since the last report)\n"}));
}

TEST(Profiler, TimerNamesFollowTheFixedTable) {
  EXPECT_STREQ(timerName(kTimerTotal), "TOTAL");
  EXPECT_STREQ(timerName(kTimerRecogInitPoseTotal), "RECOG-INITPOSE-TOTAL");
  EXPECT_STREQ(timerName(kTimerRecognitionOptMatching), "RECOGNITIONOPT-MATCHING");
  EXPECT_STREQ(timerName(kTimerInitPoseCalcPoseDecomposition), "INITPOSE-CALCPOSE-DECOMPOSITION");
  EXPECT_EQ(timerName(kTimerCount), nullptr);
  EXPECT_EQ(timerName(-1), nullptr);
}

TEST(Profiler, BlocksOfTenSamplesBecomeOneAverage) {
  clearTimers();
  for (int i = 0; i < 9; ++i) {
    startTimer(kTimerTracking);
    stopTimer(kTimerTracking);
  }
  const TimerRecord& record = timerRecords().at(kTimerTracking);
  EXPECT_EQ(record.count, 9);
  EXPECT_TRUE(record.averages.empty());

  startTimer(kTimerTracking);
  stopTimer(kTimerTracking);
  ASSERT_EQ(record.averages.size(), 1u);
  EXPECT_EQ(record.count, 0);
  EXPECT_EQ(record.accumulated, 0.0f);

  startTimer(kTimerTracking);
  stopTimer(kTimerTracking);
  EXPECT_EQ(record.count, 1);
  EXPECT_EQ(record.averages.size(), 1u);

  // A stop without a start leaves the table alone.
  stopTimer(kTimerFinePosing);
  EXPECT_EQ(timerRecords().count(kTimerFinePosing), 0u);
  clearTimers();
  EXPECT_TRUE(timerRecords().empty());
}

TEST(Profiler, PrintTimerReportsOnlyRightAfterABlockCompleted) {
  clearTimers();
  LogCapture traces(true);
  printTimer(kTimerTotal);  // never started
  for (int i = 0; i < 9; ++i) {
    startTimer(kTimerTotal);
    stopTimer(kTimerTotal);
  }
  printTimer(kTimerTotal);  // no block yet
  EXPECT_TRUE(traces.snapshot().empty());

  startTimer(kTimerTotal);
  stopTimer(kTimerTotal);
  printTimer(kTimerTotal);
  const std::vector<std::string> lines = traces.snapshot();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("TOTAL : [0-9]+\\.[0-9]{6}ms\n"))) << lines[0];

  startTimer(kTimerTotal);
  stopTimer(kTimerTotal);
  printTimer(kTimerTotal);  // eleventh sample: nothing
  EXPECT_EQ(traces.snapshot().size(), 1u);
  clearTimers();
}

Trackable makeTrackable(const std::string& id, float base) {
  Trackable t;
  for (int i = 0; i < 16; ++i) t.pose()[i] = base + static_cast<float>(i);
  t.setId(id);
  t.setName("name-" + id);
  t.setWidth(base * 2.0f);
  t.setHeight(base * 3.0f);
  t.setDistance(base * 4.0f);
  return t;
}

void expectSameTrackable(const ITrackable& a, const ITrackable& b) {
  for (int i = 0; i < 16; ++i) EXPECT_EQ(a.getPose()[i], b.getPose()[i]) << i;
  EXPECT_EQ(a.getId(), b.getId());
  EXPECT_EQ(a.getName(), b.getName());
  EXPECT_EQ(a.getWidth(), b.getWidth());
  EXPECT_EQ(a.getHeight(), b.getHeight());
  EXPECT_EQ(a.getDistance(), b.getDistance());
}

TEST(Trackable, DefaultIsEmptyAndCopiesAreIndependent) {
  const Trackable blank;
  for (int i = 0; i < 16; ++i) EXPECT_EQ(blank.getPose()[i], 0.0f);
  EXPECT_EQ(blank.getId(), "");
  EXPECT_EQ(blank.getName(), "__null");

  Trackable source = makeTrackable("cover", 1.5f);
  Trackable copy;
  copy.copyFrom(source);
  expectSameTrackable(copy, source);
  EXPECT_NE(copy.getPose(), source.getPose());
  source.pose()[3] = -9.0f;
  source.setId("other");
  EXPECT_EQ(copy.getPose()[3], 4.5f);
  EXPECT_EQ(copy.getId(), "cover");

  Trackable assigned = makeTrackable("x", 0.0f);
  assigned = copy;
  expectSameTrackable(assigned, copy);
  assigned = assigned;
  expectSameTrackable(assigned, copy);
}

TEST(TrackingResult, OwnsCopiesInOrderAndChecksBounds) {
  TrackingResult result;
  EXPECT_THROW(result.getTrackable(0), std::out_of_range);
  result.clear();
  EXPECT_EQ(result.getCount(), 0);

  Trackable first = makeTrackable("first", 1.0f);
  result.add(first);
  result.add(makeTrackable("second", 2.0f));
  first.setName("changed");
  first.pose()[0] = 100.0f;
  ASSERT_EQ(result.getCount(), 2);
  expectSameTrackable(result.getTrackable(0), makeTrackable("first", 1.0f));
  EXPECT_EQ(result.getTrackable(1).getId(), "second");
  EXPECT_THROW(result.getTrackable(2), std::out_of_range);
  EXPECT_THROW(result.getTrackable(-1), std::out_of_range);

  result.clear();
  EXPECT_EQ(result.getCount(), 0);
  EXPECT_THROW(result.getTrackable(0), std::out_of_range);
}

}  // namespace
}  // namespace vornik
