#pragma once

namespace vornik {

// Bytes of one formatted log message, terminating NUL included. Longer
// messages are cut at this size.
constexpr int kLogBufferSize = 2048;

using LogCallback = void (*)(const char* line);

// printf-style diagnostic line to the debugger channel, or to the host's
// callback when one is set. No line end is added.
void logMessage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Verbose trace sink: accepts the same arguments and writes nothing.
void traceMessage(const char* format, ...);

// Routes every logMessage line to `callback`; null restores the debugger
// channel. Safe to call from any thread.
void setLogCallback(LogCallback callback);

}  // namespace vornik
