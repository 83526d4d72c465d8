#include "platform/file_system.h"

#include <sys/stat.h>
#include <sys/types.h>

namespace vornik {

bool isDirectory(const std::string& path) {
  if (path.empty()) return false;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  return (info.st_mode & S_IFMT) == S_IFDIR;
}

bool createDirectory(const std::string& path) {
  if (path.empty()) return false;
  mkdir(path.c_str(), 0755);
  return isDirectory(path);
}

std::FILE* openFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

FileKind fileKind(const std::string& path, uint64_t* size) {
  struct stat info;
  if (path.empty() || stat(path.c_str(), &info) != 0) return FileKind::kMissing;
  if (!S_ISREG(info.st_mode)) return FileKind::kOther;
  *size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
  return FileKind::kRegular;
}

}  // namespace vornik
