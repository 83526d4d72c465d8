#include "platform/module_path.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/wide_path_win.h"
#else
#include <dlfcn.h>
#endif

namespace vornik {
namespace {

// Any function of this file: its address lies inside our own module.
void moduleAnchor() {}

}  // namespace

std::string modulePath() {
#ifdef _WIN32
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&moduleAnchor), &module)) {
    return std::string();
  }
  wchar_t wide[MAX_PATH];
  DWORD length = GetModuleFileNameW(module, wide, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return utf8Path(wide, length);
#else
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&moduleAnchor), &info) == 0 || info.dli_fname == nullptr) {
    return std::string();
  }
  return std::string(info.dli_fname);
#endif
}

std::string moduleDirectory(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos) return path;
  return path.substr(0, separator);
}

}  // namespace vornik
