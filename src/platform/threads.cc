#include "platform/threads.h"

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vornik {
namespace {
std::atomic<int> g_failuresToInject{0};
}  // namespace

int createThread(ThreadHandle* handle, ThreadRoutine routine, void* argument) {
  if (handle == nullptr || routine == nullptr) return EINVAL;
  int pending = g_failuresToInject.load();
  while (pending > 0) {
    if (g_failuresToInject.compare_exchange_weak(pending, pending - 1)) return EAGAIN;
  }
  ThreadHandle created;
  const int result = pthread_create(&created, nullptr, routine, argument);
  if (result == 0) *handle = created;
  return result;
}

void joinThread(ThreadHandle handle) { pthread_join(handle, nullptr); }

int usableProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

void failNextThreadCreations(int count) { g_failuresToInject.store(count > 0 ? count : 0); }

}  // namespace vornik
