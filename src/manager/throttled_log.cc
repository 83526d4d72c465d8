#include "manager/throttled_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "manager/log.h"
#include "platform/clock.h"

namespace vornik {

void ThrottledLog::log(const char* format, ...) {
  if (format == nullptr) return;
  char text[kLogBufferSize];
  va_list args;
  va_start(args, format);
  if (std::vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
  va_end(args);
  logAt(processClockMs(), text);
}

void ThrottledLog::logAt(int64_t nowMs, const char* text) {
  int32_t repeats = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (loggedOnce_ && nowMs - lastLoggedMs_ < intervalMs_) {
      ++suppressed_;
      return;
    }
    loggedOnce_ = true;
    lastLoggedMs_ = nowMs;
    repeats = suppressed_;
    suppressed_ = 0;
  }
  if (repeats == 0) {
    logMessage("%s", text);
    return;
  }
  // The count goes on the same line, before the line end the text carries.
  size_t length = std::strlen(text);
  const bool lineEnd = length > 0 && text[length - 1] == '\n';
  if (lineEnd) --length;
  logMessage("%.*s (and %d more like it since the last report)%s", static_cast<int>(length), text,
             repeats, lineEnd ? "\n" : "");
}

}  // namespace vornik
