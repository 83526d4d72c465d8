#include "api/library_lifetime.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "camera/camera_sequence.h"
#include "camera/plugin_camera.h"
#include "manager/ar_manager.h"
#include "manager/log.h"

namespace vornik {
namespace {

std::atomic<bool> g_threadsStarted{false};

void stopAtProcessExit() {
  // The host's log callback may belong to a runtime that has already shut
  // down (an interpreter, an engine); the last lines go to the default channel.
  setLogSink(nullptr);
  stopLibraryThreads();
}

}  // namespace

void stopThreadsAtExit() {
  g_threadsStarted.store(true);
  // Registered after the first start, so it runs before the exit handlers of
  // everything that existed before: the host's objects and the capture
  // plug-in, which start() has loaded by then.
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(&stopAtProcessExit); });
}

void stopLibraryThreads() {
  if (!g_threadsStarted.exchange(false)) return;
  ARManager::getInstance()->stopTracker();
  stopCameraSequence(*PluginCamera::getInstance());
}

}  // namespace vornik

#if !defined(_WIN32)
// dlclose of a library whose threads still run: runs before the library's
// own static objects are destroyed.
__attribute__((destructor)) static void stopThreadsAtUnload() { vornik::stopLibraryThreads(); }
#endif
