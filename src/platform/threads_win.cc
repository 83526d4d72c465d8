#include <pthread.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>

#include "platform/debug_output.h"
#include "platform/dynamic_library.h"
#include "platform/module_path.h"
#include "platform/threads.h"
#include "platform/wide_path_win.h"

namespace vornik {

// pthreadVC2's thread handle, passed to pthread_join by value.
struct Vc2Thread {
  void* pointer;
  unsigned int reuse;
};
using Vc2Create = int(__cdecl*)(Vc2Thread*, const void*, void*(__cdecl*)(void*), void*);
using Vc2Join = int(__cdecl*)(Vc2Thread, void**);

struct ThreadingBinding {
  ThreadingLibrary library;
  Vc2Create vc2Create;
  Vc2Join vc2Join;
};

const char* const kPthreadVC2FileName = "pthreadVC2.dll";

namespace {

std::atomic<int> g_failuresToInject{0};
const ThreadingBinding kMingwBinding{ThreadingLibrary::mingw, nullptr, nullptr};
std::atomic<const ThreadingBinding*> g_binding{nullptr};
std::mutex g_bindMutex;

bool fileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Caller holds g_bindMutex.
const ThreadingBinding* bindFrom(const std::string& directory) {
  const std::string path = directory + "\\" + kPthreadVC2FileName;
  const char* const fallback = "; using the MinGW threads library (libwinpthread-1.dll)\n";
  if (!fileExists(path)) {
    writeDebugOutput(
        ("Threads: no " + std::string(kPthreadVC2FileName) + " in " + directory + fallback)
            .c_str());
    return &kMingwBinding;
  }
  // Never unloaded: threads it started may outlive a later binding.
  auto* library = new DynamicLibrary;
  if (!library->open(path)) {
    writeDebugOutput(
        ("Threads: " + path + " could not be loaded (" + library->error() + ")" + fallback)
            .c_str());
    delete library;
    return &kMingwBinding;
  }
  auto create = reinterpret_cast<Vc2Create>(library->symbol("pthread_create"));
  auto join = reinterpret_cast<Vc2Join>(library->symbol("pthread_join"));
  if (create == nullptr || join == nullptr) {
    writeDebugOutput(("Threads: " + path + " lacks " +
                      (create == nullptr ? "pthread_create" : "pthread_join") + fallback)
                         .c_str());
    delete library;
    return &kMingwBinding;
  }
  writeDebugOutput(("Threads: " + path + "\n").c_str());
  return new ThreadingBinding{ThreadingLibrary::pthreadVC2, create, join};
}

const ThreadingBinding* currentBinding() {
  const ThreadingBinding* binding = g_binding.load(std::memory_order_acquire);
  if (binding != nullptr) return binding;
  std::lock_guard<std::mutex> lock(g_bindMutex);
  binding = g_binding.load(std::memory_order_acquire);
  if (binding == nullptr) {
    const std::string own = modulePath();
    binding = bindFrom(own.empty() ? std::string(".") : moduleDirectory(own));
    g_binding.store(binding, std::memory_order_release);
  }
  return binding;
}

}  // namespace

ThreadingLibrary bindThreadingLibrary(const std::string& directory) {
  std::lock_guard<std::mutex> lock(g_bindMutex);
  const ThreadingBinding* binding = bindFrom(directory);
  g_binding.store(binding, std::memory_order_release);
  return binding->library;
}

int createThread(ThreadHandle* handle, ThreadRoutine routine, void* argument) {
  if (handle == nullptr || routine == nullptr) return EINVAL;
  int pending = g_failuresToInject.load();
  while (pending > 0) {
    if (g_failuresToInject.compare_exchange_weak(pending, pending - 1)) return EAGAIN;
  }
  ThreadHandle created;
  created.binding = currentBinding();
  int result = 0;
  if (created.binding->library == ThreadingLibrary::pthreadVC2) {
    Vc2Thread thread{};
    result = created.binding->vc2Create(&thread, nullptr, routine, argument);
    created.pointer = thread.pointer;
    created.number = thread.reuse;
  } else {
    pthread_t thread;
    result = pthread_create(&thread, nullptr, routine, argument);
    created.number = static_cast<uintptr_t>(thread);
  }
  if (result == 0) *handle = created;
  return result;
}

void joinThread(ThreadHandle handle) {
  if (handle.binding == nullptr) return;
  if (handle.binding->library == ThreadingLibrary::pthreadVC2) {
    handle.binding->vc2Join(Vc2Thread{handle.pointer, static_cast<unsigned int>(handle.number)},
                            nullptr);
  } else {
    pthread_join(static_cast<pthread_t>(handle.number), nullptr);
  }
}

int usableProcessorCount() {
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask) && processMask != 0) {
    int count = 0;
    for (; processMask != 0; processMask &= processMask - 1) ++count;
    return count;
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

void failNextThreadCreations(int count) { g_failuresToInject.store(count > 0 ? count : 0); }

}  // namespace vornik
