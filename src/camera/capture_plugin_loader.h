#pragma once
#include <string>

#include "camera/capture_plugin_api.h"

namespace vornik {

// The entry points of a loaded capture plug-in; all null when it could not
// be loaded or lacks one of them.
struct CapturePlugin {
  VornikCaptureOpenFn open = nullptr;
  VornikCaptureQueryFrameFn queryFrame = nullptr;
  VornikCaptureReleaseFn release = nullptr;

  bool loaded() const { return open != nullptr && queryFrame != nullptr && release != nullptr; }
};

// File name of the plug-in that ships next to the library.
extern const char* const kCapturePluginFileName;

// The plug-in next to the library's own file.
std::string defaultCapturePluginPath();

// Loads the plug-in and resolves its three entry points, once per path: a
// loaded plug-in stays in the process for its whole life (capture back ends
// do not unload cleanly) and later calls return the same entry points. On
// failure logs one line naming the reason and returns an empty record; the
// next call tries again.
CapturePlugin loadCapturePlugin(const std::string& path);

}  // namespace vornik
