#include "manager/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/debug_output.h"

namespace vornik {
namespace {
std::atomic<LogCallback> g_callback{nullptr};
std::atomic<LogCallback> g_traceCallback{nullptr};

// vsnprintf always terminates and never writes past the buffer; an over-long
// message is simply cut.
void formatInto(char (&buffer)[kLogBufferSize], const char* format, va_list args) {
  int written = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (written < 0) buffer[0] = '\0';
}

}  // namespace

void logMessage(const char* format, ...) {
  if (format == nullptr) return;
  char buffer[kLogBufferSize];
  va_list args;
  va_start(args, format);
  formatInto(buffer, format, args);
  va_end(args);
  LogCallback callback = g_callback.load(std::memory_order_acquire);
  if (callback != nullptr) {
    callback(buffer);
  } else {
    writeDebugOutput(buffer);
  }
}

void traceMessage(const char* format, ...) {
  LogCallback callback = g_traceCallback.load(std::memory_order_acquire);
  if (callback == nullptr || format == nullptr) return;
  char buffer[kLogBufferSize];
  va_list args;
  va_start(args, format);
  formatInto(buffer, format, args);
  va_end(args);
  callback(buffer);
}

void setTraceSink(LogCallback callback) {
  g_traceCallback.store(callback, std::memory_order_release);
}

void setLogSink(LogCallback callback) { g_callback.store(callback, std::memory_order_release); }

}  // namespace vornik
