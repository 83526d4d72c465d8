#include "camera/capture_plugin_loader.h"

#include <memory>
#include <mutex>
#include <vector>

#include "manager/log.h"
#include "platform/dynamic_library.h"
#include "platform/module_path.h"

namespace vornik {
namespace {

// Loaded plug-ins stay open for the life of the process; the registry is
// never destroyed, so no exit-time unload races a capture thread.
std::mutex g_registryMutex;
std::vector<std::unique_ptr<DynamicLibrary>>* g_registry =
    new std::vector<std::unique_ptr<DynamicLibrary>>;

}  // namespace

#if defined(_WIN32)
const char* const kCapturePluginFileName = "vornik_capture.dll";
#else
const char* const kCapturePluginFileName = "libvornik_capture.so";
#endif

std::string defaultCapturePluginPath() {
  const std::string own = modulePath();
  const std::string directory = own.empty() ? std::string(".") : moduleDirectory(own);
  return directory + "/" + kCapturePluginFileName;
}

CapturePlugin loadCapturePlugin(const std::string& path) {
  auto library = std::make_unique<DynamicLibrary>();
  if (!library->open(path)) {
    logMessage("Capture plug-in %s could not be loaded (%s): no camera frames\n", path.c_str(),
               library->error().c_str());
    return CapturePlugin();
  }
  CapturePlugin plugin;
  plugin.open = reinterpret_cast<VornikCaptureOpenFn>(library->symbol(VORNIK_CAPTURE_OPEN_NAME));
  plugin.queryFrame =
      reinterpret_cast<VornikCaptureQueryFrameFn>(library->symbol(VORNIK_CAPTURE_QUERY_FRAME_NAME));
  plugin.release =
      reinterpret_cast<VornikCaptureReleaseFn>(library->symbol(VORNIK_CAPTURE_RELEASE_NAME));
  if (!plugin.loaded()) {
    logMessage("Capture plug-in %s lacks its entry points: no camera frames\n", path.c_str());
    return CapturePlugin();
  }
  std::lock_guard<std::mutex> lock(g_registryMutex);
  g_registry->push_back(std::move(library));
  return plugin;
}

}  // namespace vornik
