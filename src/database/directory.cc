#include "database/directory.h"

#include "platform/file_system.h"

namespace vornik {

bool directoryExists(const std::string& path) { return isDirectory(path); }

void makeDirectories(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return;
  std::string parent = path.substr(0, slash);
  if (!isDirectory(parent)) makeDirectories(parent);
  createDirectory(path);
}

}  // namespace vornik
