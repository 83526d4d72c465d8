#include "platform/dynamic_library.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/wide_path_win.h"
#else
#include <dlfcn.h>
#endif

namespace vornik {

DynamicLibrary::~DynamicLibrary() { close(); }

bool DynamicLibrary::open(const std::string& path) {
  close();
  error_.clear();
#ifdef _WIN32
  handle_ = reinterpret_cast<void*>(LoadLibraryW(widePath(path).c_str()));
  if (handle_ == nullptr)
    error_ = "LoadLibraryW failed with code " + std::to_string(GetLastError());
#else
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    error_ = reason != nullptr ? reason : "dlopen failed";
  }
#endif
  return handle_ != nullptr;
}

void DynamicLibrary::close() {
  if (handle_ == nullptr) return;
#ifdef _WIN32
  FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
  handle_ = nullptr;
}

void* DynamicLibrary::symbol(const char* name) {
  if (handle_ == nullptr || name == nullptr) {
    error_ = "no library loaded";
    return nullptr;
  }
#ifdef _WIN32
  void* address = reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
  if (address == nullptr) error_ = std::string("symbol not found: ") + name;
#else
  dlerror();
  void* address = dlsym(handle_, name);
  if (address == nullptr) {
    const char* reason = dlerror();
    error_ = reason != nullptr ? reason : std::string("symbol not found: ") + name;
  }
#endif
  return address;
}

}  // namespace vornik
