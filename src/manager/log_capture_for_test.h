#pragma once
// Test helper: collects the log (and optionally trace) lines written while it
// lives, from any thread.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "manager/log.h"

namespace vornik {

class LogCapture {
 public:
  explicit LogCapture(bool traces = false) : traces_(traces) {
    clear();
    setLogSink(&append);
    if (traces_) setTraceSink(&append);
  }
  ~LogCapture() {
    setLogSink(nullptr);
    if (traces_) setTraceSink(nullptr);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  int count(const std::string& line) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(lines_.begin(), lines_.end(), line));
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  static void append(const char* line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }

  static inline std::mutex mutex_;
  static inline std::vector<std::string> lines_;
  bool traces_;
};

}  // namespace vornik
