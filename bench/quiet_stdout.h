#pragma once
// Shared by the evaluation programs: the library prints diagnostic lines on
// standard output, which would interleave with their reports.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace vornik {

// Sends standard output to /dev/null for its lifetime.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(1);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    close(devNull);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_;
};

}  // namespace vornik
