#include "camera/capture_plugin_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "manager/log.h"

namespace vornik {
namespace {

#if defined(_WIN32)
using LibraryHandle = HMODULE;
LibraryHandle openLibrary(const std::string& path) { return LoadLibraryA(path.c_str()); }
void* findSymbol(LibraryHandle library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(library, name));
}
std::string lastLoadError() { return "error " + std::to_string(GetLastError()); }
std::string ownFilePath() {
  HMODULE self = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&defaultCapturePluginPath), &self);
  char path[MAX_PATH] = {};
  GetModuleFileNameA(self, path, MAX_PATH);
  return path;
}
#else
using LibraryHandle = void*;
LibraryHandle openLibrary(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* findSymbol(LibraryHandle library, const char* name) { return dlsym(library, name); }
std::string lastLoadError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown error";
}
std::string ownFilePath() {
  Dl_info info = {};
  if (dladdr(reinterpret_cast<void*>(&defaultCapturePluginPath), &info) == 0 ||
      info.dli_fname == nullptr) {
    return std::string();
  }
  return info.dli_fname;
}
#endif

}  // namespace

#if defined(_WIN32)
const char* const kCapturePluginFileName = "vornik_capture.dll";
#else
const char* const kCapturePluginFileName = "libvornik_capture.so";
#endif

std::string defaultCapturePluginPath() {
  const std::string own = ownFilePath();
  const size_t slash = own.find_last_of("/\\");
  const std::string directory =
      slash == std::string::npos ? std::string(".") : own.substr(0, slash);
  return directory + "/" + kCapturePluginFileName;
}

CapturePlugin loadCapturePlugin(const std::string& path) {
  LibraryHandle library = openLibrary(path);
  if (library == nullptr) {
    logMessage("Capture plug-in %s could not be loaded (%s): no camera frames\n", path.c_str(),
               lastLoadError().c_str());
    return CapturePlugin();
  }
  CapturePlugin plugin;
  plugin.open =
      reinterpret_cast<VornikCaptureOpenFn>(findSymbol(library, VORNIK_CAPTURE_OPEN_NAME));
  plugin.queryFrame = reinterpret_cast<VornikCaptureQueryFrameFn>(
      findSymbol(library, VORNIK_CAPTURE_QUERY_FRAME_NAME));
  plugin.release =
      reinterpret_cast<VornikCaptureReleaseFn>(findSymbol(library, VORNIK_CAPTURE_RELEASE_NAME));
  if (!plugin.loaded()) {
    logMessage("Capture plug-in %s lacks its entry points: no camera frames\n", path.c_str());
    return CapturePlugin();
  }
  return plugin;
}

}  // namespace vornik
