// Log, profiler, trackables and results.
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
  EXPECT_EQ(log.snapshot(),
            (std::vector<std::string>{"bad frame\n",
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

TEST(Profiler, TenSamplesMakeABlockReportedOnlyRightAfterItCompleted) {
  clearTimers();
  LogCapture traces(true);
  const auto sample = [] {
    startTimer(kTimerTotal);
    stopTimer(kTimerTotal);
  };
  printTimer(kTimerTotal);  // never started
  for (int i = 0; i < 9; ++i) sample();
  printTimer(kTimerTotal);  // no block yet
  const TimerRecord& record = timerRecords().at(kTimerTotal);
  EXPECT_EQ(record.count, 9);
  EXPECT_TRUE(record.averages.empty());
  EXPECT_TRUE(traces.snapshot().empty());

  sample();
  EXPECT_EQ(record.count, 0);
  EXPECT_EQ(record.accumulated, 0.0f);
  EXPECT_EQ(record.averages.size(), 1u);
  printTimer(kTimerTotal);
  sample();
  printTimer(kTimerTotal);  // the eleventh sample: nothing
  EXPECT_EQ(record.count, 1);
  EXPECT_EQ(record.averages.size(), 1u);
  const std::vector<std::string> lines = traces.snapshot();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("TOTAL : [0-9]+\\.[0-9]{6}ms\n"))) << lines[0];

  // A stop without a start leaves the table alone.
  stopTimer(kTimerFinePosing);
  EXPECT_EQ(timerRecords().count(kTimerFinePosing), 0u);
  clearTimers();
  EXPECT_TRUE(timerRecords().empty());
}

TEST(TrackingResult, DefaultTrackableAndOwnedCopiesInOrderWithBoundsChecks) {
  const Trackable blank;
  for (int i = 0; i < 16; ++i) EXPECT_EQ(blank.getPose()[i], 0.0f);
  EXPECT_EQ(blank.getId(), "");
  EXPECT_EQ(blank.getName(), "__null");
  EXPECT_EQ(blank.getWidth(), 0.0f);
  EXPECT_EQ(blank.getHeight(), 0.0f);
  EXPECT_EQ(blank.getDistance(), 0.0f);

  TrackingResult result;
  result.clear();
  EXPECT_EQ(result.getCount(), 0);
  EXPECT_THROW(result.getTrackable(0), std::out_of_range);
  Trackable first;
  for (int i = 0; i < 16; ++i) first.pose()[i] = 0.5f + i;
  first.setId("first");
  first.setName("First");
  first.setWidth(2.0f);
  first.setHeight(3.0f);
  first.setDistance(4.0f);
  result.add(first);
  result.add(blank);
  first.setName("changed");
  first.pose()[15] = 100.0f;
  ASSERT_EQ(result.getCount(), 2);
  const ITrackable& stored = result.getTrackable(0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(stored.getPose()[i], 0.5f + i) << i;
  EXPECT_EQ(stored.getId(), "first");
  EXPECT_EQ(stored.getName(), "First");
  EXPECT_EQ(stored.getWidth(), 2.0f);
  EXPECT_EQ(stored.getHeight(), 3.0f);
  EXPECT_EQ(stored.getDistance(), 4.0f);
  EXPECT_EQ(result.getTrackable(1).getName(), "__null");
  EXPECT_THROW(result.getTrackable(2), std::out_of_range);
  EXPECT_THROW(result.getTrackable(-1), std::out_of_range);
  result.clear();
  EXPECT_EQ(result.getCount(), 0);
}

}  // namespace
}  // namespace vornik
