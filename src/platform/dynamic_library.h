#pragma once
#include <string>

namespace vornik {

// A library loaded at run time (dlopen, LoadLibraryW on Windows); closed when
// the object goes away.
class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads `path` (UTF-8), closing any library held before. False, with the
  // reason in error(), when it cannot be loaded.
  bool open(const std::string& path);
  void close();
  bool isOpen() const { return handle_ != nullptr; }
  // Address of the exported `name`, or null (reason in error()).
  void* symbol(const char* name);
  const std::string& error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace vornik
