#include "camera/capture_plugin_loader.h"

#include <map>
#include <memory>
#include <mutex>

#include "manager/log.h"
#include "platform/dynamic_library.h"
#include "platform/module_path.h"

namespace vornik {
namespace {

struct LoadedPlugin {
  std::unique_ptr<DynamicLibrary> library;
  CapturePlugin entryPoints;
};

// Never destroyed: loaded plug-ins stay open for the life of the process,
// and a capture thread stopped from an exit handler still queries them.
std::mutex& registryMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::map<std::string, LoadedPlugin>& registry() {
  static auto* plugins = new std::map<std::string, LoadedPlugin>;
  return *plugins;
}

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
  CapturePlugin plugin;
  std::string failure;
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto found = registry().find(path);
    if (found != registry().end()) return found->second.entryPoints;
    auto library = std::make_unique<DynamicLibrary>();
    if (!library->open(path)) {
      failure = "could not be loaded (" + library->error() + ")";
    } else {
      plugin.open =
          reinterpret_cast<VornikCaptureOpenFn>(library->symbol(VORNIK_CAPTURE_OPEN_NAME));
      plugin.queryFrame = reinterpret_cast<VornikCaptureQueryFrameFn>(
          library->symbol(VORNIK_CAPTURE_QUERY_FRAME_NAME));
      plugin.release =
          reinterpret_cast<VornikCaptureReleaseFn>(library->symbol(VORNIK_CAPTURE_RELEASE_NAME));
      if (plugin.loaded()) {
        registry()[path] = LoadedPlugin{std::move(library), plugin};
      } else {
        // Not kept: a later call tries the file again.
        plugin = CapturePlugin();
        failure = "lacks its entry points";
      }
    }
  }
  // Outside the lock: the host's log callback may call back into the library.
  if (!failure.empty()) {
    logMessage("Capture plug-in %s %s: no camera frames\n", path.c_str(), failure.c_str());
  }
  return plugin;
}

}  // namespace vornik
