#pragma once

#include "vornik/vornik.h"

namespace vornik {

// Bytes of one formatted log message, terminating NUL included. Longer
// messages are cut at this size.
constexpr int kLogBufferSize = 2048;

// printf-style diagnostic line to the debugger channel, or to the host's
// callback when one is set. No line end is added.
void logMessage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Verbose trace sink: accepts the same arguments and writes nothing unless a
// trace callback is set (tests and debugging).
void traceMessage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Receives every traceMessage line, formatted like logMessage; null (the
// default) discards them.
void setTraceSink(LogCallback callback);

// Where logMessage lines go: `callback`, or the debugger channel when null.
// Safe to call from any thread. setLogCallback (declared with the public
// interface) forwards here.
void setLogSink(LogCallback callback);

}  // namespace vornik
