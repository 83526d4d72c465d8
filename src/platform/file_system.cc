#include "platform/file_system.h"

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <direct.h>
#endif

namespace vornik {

bool isDirectory(const std::string& path) {
  if (path.empty()) return false;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  return (info.st_mode & S_IFMT) == S_IFDIR;
}

bool createDirectory(const std::string& path) {
  if (path.empty()) return false;
#ifdef _WIN32
  _mkdir(path.c_str());
#else
  mkdir(path.c_str(), 0755);
#endif
  return isDirectory(path);
}

}  // namespace vornik
