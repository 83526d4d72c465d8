#pragma once
#include <cstdint>
#include <mutex>

namespace vornik {

// A complaint that can recur with every camera frame (about 33 a second):
// the first one is logged, later ones at most once per interval, each with
// the number of lines it stands for. Safe from any thread; the log call is
// made without holding the throttle's lock.
class ThrottledLog {
 public:
  static constexpr int32_t kDefaultIntervalMs = 1000;

  explicit ThrottledLog(int32_t intervalMs = kDefaultIntervalMs) : intervalMs_(intervalMs) {}
  ThrottledLog(const ThrottledLog&) = delete;
  ThrottledLog& operator=(const ThrottledLog&) = delete;

  // printf-style, like logMessage; the text carries its own line end.
  void log(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  // The same at a given time (milliseconds); `text` is already formatted.
  void logAt(int64_t nowMs, const char* text);

 private:
  const int32_t intervalMs_;
  std::mutex mutex_;
  bool loggedOnce_ = false;
  int64_t lastLoggedMs_ = 0;
  int32_t suppressed_ = 0;
};

}  // namespace vornik
