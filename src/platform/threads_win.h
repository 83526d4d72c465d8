#pragma once
// The POSIX threads library of Windows, bound at run time: "pthreadVC2.dll"
// next to the library when it is there and complete, otherwise the MinGW
// threads library (libwinpthread-1.dll) that ships beside Vornik.dll and that
// the library is linked with. Only thread creation and join go through the
// binding; each thread remembers the library that started it.
#include <cstdint>
#include <string>

namespace vornik {

struct ThreadingBinding;

// A thread of either library: pthreadVC2's handle is a pointer and a
// sequence number, MinGW's a number.
struct ThreadHandle {
  const ThreadingBinding* binding = nullptr;
  void* pointer = nullptr;
  uintptr_t number = 0;
};

enum class ThreadingLibrary { pthreadVC2, mingw };

// File name of the library looked for next to Vornik.dll.
extern const char* const kPthreadVC2FileName;

// Binds the thread functions: "pthreadVC2.dll" in `directory` when it loads
// and exports both "pthread_create" and "pthread_join", else the MinGW
// library. Writes one line on the debugger channel naming the library bound,
// and why pthreadVC2.dll was passed over when it is there but unusable.
// createThread binds from the library's own folder on first use; a later
// call binds again (threads already started are joined through their own).
ThreadingLibrary bindThreadingLibrary(const std::string& directory);

}  // namespace vornik
