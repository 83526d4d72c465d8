#include "manager/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/debug_output.h"

namespace vornik {
namespace {
std::atomic<LogCallback> g_callback{nullptr};
}  // namespace

void logMessage(const char* format, ...) {
  if (format == nullptr) return;
  char buffer[kLogBufferSize];
  va_list args;
  va_start(args, format);
  // vsnprintf always terminates and never writes past the buffer; an
  // over-long message is simply cut.
  int written = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (written < 0) buffer[0] = '\0';
  LogCallback callback = g_callback.load(std::memory_order_acquire);
  if (callback != nullptr) {
    callback(buffer);
  } else {
    writeDebugOutput(buffer);
  }
}

void traceMessage(const char* /*format*/, ...) {}

void setLogSink(LogCallback callback) { g_callback.store(callback, std::memory_order_release); }

}  // namespace vornik
