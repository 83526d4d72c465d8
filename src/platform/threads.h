#pragma once
// Thread creation and join for the library's own threads. A failed creation
// is a result code, never an exception, so a caller can carry on without the
// thread. POSIX threads are part of the C library on Linux; on Windows they
// are bound at run time (threads_win.h).
#if defined(_WIN32)
#include "platform/threads_win.h"
#else
#include <pthread.h>
#endif

namespace vornik {

#if !defined(_WIN32)
using ThreadHandle = pthread_t;
#endif
using ThreadRoutine = void* (*)(void*);

// Starts `routine(argument)` with default attributes. 0 on success with
// *handle set; otherwise the error number and *handle is untouched.
int createThread(ThreadHandle* handle, ThreadRoutine routine, void* argument);
// Waits for the thread to end; its exit value is discarded.
void joinThread(ThreadHandle handle);

// Processors the calling thread may run on, at least 1: its affinity on
// Linux (which the threads it starts inherit), the process's on Windows.
// Work split over threads only pays where this is more than one.
int usableProcessorCount();

// Makes the next `count` calls of createThread fail with EAGAIN, as a system
// out of threads would (tests of the fallback paths).
void failNextThreadCreations(int count);

}  // namespace vornik
