// Log, profiler, trackables and results.
#include <algorithm>
#include <regex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "manager/log.h"
#include "manager/log_capture_for_test.h"
#include "manager/profiler.h"
#include "manager/throttled_log.h"
#include "manager/trackable.h"
#include "manager/tracking_result.h"

namespace vornik {
namespace {

TEST(Log, FormatsCutsOverLongMessagesAtTheBufferAndDropsTracesWithoutASink) {
  LogCapture log;
  logMessage("%s %d", "CameraCalibration", 54);
  const std::string longText(5000, 'x');
  logMessage("<%s>", longText.c_str());
  traceMessage("hidden %d\n", 1);
  const auto lines = log.snapshot();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "CameraCalibration 54");
  EXPECT_EQ(lines[1], "<" + std::string(kLogBufferSize - 2, 'x'));
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
  EXPECT_TRUE(traces.snapshot().empty());
  sample();
  printTimer(kTimerTotal);
  sample();
  printTimer(kTimerTotal);  // the eleventh sample: nothing
  const std::vector<std::string> lines = traces.snapshot();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("TOTAL : [0-9]+\\.[0-9]{6}ms\n"))) << lines[0];

  // A stop without a start leaves the table alone; names outside it are null.
  stopTimer(kTimerFinePosing);
  EXPECT_EQ(timerRecords().count(kTimerFinePosing), 0u);
  EXPECT_EQ(timerName(kTimerCount), nullptr);
  EXPECT_EQ(timerName(-1), nullptr);
  clearTimers();
  EXPECT_TRUE(timerRecords().empty());
}

using Fields = std::tuple<std::string, std::string, float, float, float, std::vector<float>>;
Fields fields(const ITrackable& t) {
  return {t.getId(),     t.getName(),     t.getWidth(),
          t.getHeight(), t.getDistance(), std::vector<float>(t.getPose(), t.getPose() + 16)};
}

TEST(TrackingResult, DefaultTrackableAndOwnedCopiesInOrderWithBoundsChecks) {
  std::vector<float> pose(16);
  for (int i = 0; i < 16; ++i) pose[i] = 0.5f + i;
  Trackable first;
  std::copy(pose.begin(), pose.end(), first.pose());
  first.setId("first");
  first.setName("First");
  first.setWidth(2.0f);
  first.setHeight(3.0f);
  first.setDistance(4.0f);
  TrackingResult result;
  result.clear();
  EXPECT_THROW(result.getTrackable(0), std::out_of_range);
  result.add(first);
  result.add(Trackable());
  first.setName("changed");
  first.pose()[15] = 100.0f;
  ASSERT_EQ(result.getCount(), 2);
  EXPECT_EQ(fields(result.getTrackable(0)), Fields("first", "First", 2.0f, 3.0f, 4.0f, pose));
  EXPECT_EQ(fields(result.getTrackable(1)), Fields("", "__null", 0, 0, 0, std::vector<float>(16)));
  EXPECT_THROW(result.getTrackable(2), std::out_of_range);
  EXPECT_THROW(result.getTrackable(-1), std::out_of_range);
  result.clear();
  EXPECT_EQ(result.getCount(), 0);
}

}  // namespace
}  // namespace vornik
