// A stand-in for pthreadVC2.dll in the platform tests: its pthread_create and
// pthread_join with that library's handle (a pointer and a sequence number,
// passed to join by value), over Win32 threads. Built a second time without
// pthread_join, as a library the binding must pass over.
#include <windows.h>

namespace {

struct Vc2Thread {
  void* pointer;
  unsigned int reuse;
};

struct Start {
  void* (*routine)(void*);
  void* argument;
};

LONG g_created = 0;
LONG g_joinedWithMatchingHandle = 0;
// The number handed out with a handle, checked again by join: both fields
// must arrive as create gave them.
unsigned int reuseFor(const void* pointer) {
  return 0x5EEDF00Du ^ static_cast<unsigned int>(reinterpret_cast<UINT_PTR>(pointer));
}

DWORD WINAPI runStart(void* start) {
  Start copy = *static_cast<Start*>(start);
  HeapFree(GetProcessHeap(), 0, start);
  copy.routine(copy.argument);
  return 0;
}

}  // namespace

extern "C" {

__declspec(dllexport) int __cdecl pthread_create(Vc2Thread* thread, const void*,
                                                 void* (*routine)(void*), void* argument) {
  auto* start = static_cast<Start*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Start)));
  if (start == nullptr) return 12;
  start->routine = routine;
  start->argument = argument;
  HANDLE handle = CreateThread(nullptr, 0, &runStart, start, 0, nullptr);
  if (handle == nullptr) {
    HeapFree(GetProcessHeap(), 0, start);
    return 11;
  }
  InterlockedIncrement(&g_created);
  thread->pointer = handle;
  thread->reuse = reuseFor(handle);
  return 0;
}

#if !defined(VORNIK_STAND_IN_WITHOUT_JOIN)
__declspec(dllexport) int __cdecl pthread_join(Vc2Thread thread, void**) {
  if (thread.reuse != reuseFor(thread.pointer)) return 3;
  WaitForSingleObject(thread.pointer, INFINITE);
  CloseHandle(thread.pointer);
  InterlockedIncrement(&g_joinedWithMatchingHandle);
  return 0;
}
#endif

// Threads created, and joins that got a handle as create gave it out.
__declspec(dllexport) int standInCreated() { return static_cast<int>(g_created); }
__declspec(dllexport) int standInJoined() { return static_cast<int>(g_joinedWithMatchingHandle); }

}  // extern "C"
