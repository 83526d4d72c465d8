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
    std::lock_guard<std::mutex> lock(mutex());
    lines().clear();
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
    std::lock_guard<std::mutex> lock(mutex());
    return lines();
  }
  int count(const std::string& line) const {
    std::lock_guard<std::mutex> lock(mutex());
    return static_cast<int>(std::count(lines().begin(), lines().end(), line));
  }
  bool containsPrefix(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(mutex());
    for (const std::string& line : lines()) {
      if (line.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex());
    lines().clear();
  }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::string>& lines() {
    static std::vector<std::string> l;
    return l;
  }
  static void append(const char* line) {
    std::lock_guard<std::mutex> lock(mutex());
    lines().push_back(line);
  }

  bool traces_;
};

}  // namespace vornik
