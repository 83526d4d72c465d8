#include "platform/file_system.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include "platform/wide_path_win.h"

namespace vornik {
namespace {

// The full UTF-16 form of `path` without trailing separators (but for a
// drive's root), as FindFirstFileW wants it; empty when it has none.
std::wstring fullPath(const std::string& path) {
  const std::wstring wide = widePath(path);
  if (wide.empty()) return wide;
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::wstring();
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return std::wstring();
  full.resize(length);
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  return full;
}

}  // namespace

bool isDirectory(const std::string& path) {
  const std::wstring full = fullPath(path);
  // Wildcards would make the search match other entries.
  if (full.empty() || full.find_first_of(L"*?") != std::wstring::npos) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(full.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // A drive's root is no entry of a folder, so the search cannot find it.
    const DWORD attributes = GetFileAttributesW(full.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool createDirectory(const std::string& path) {
  const std::wstring full = fullPath(path);
  if (full.empty()) return false;
  CreateDirectoryW(full.c_str(), nullptr);
  return isDirectory(path);
}

std::FILE* openFile(const std::string& path, const char* mode) {
  const std::wstring wide = widePath(path);
  if (wide.empty()) return nullptr;
  std::wstring wideMode;
  for (const char* c = mode; *c != '\0'; ++c) wideMode.push_back(static_cast<wchar_t>(*c));
  return _wfopen(wide.c_str(), wideMode.c_str());
}

FileKind fileKind(const std::string& path, uint64_t* size) {
  const std::wstring wide = widePath(path);
  struct _stat64 info;
  if (wide.empty() || _wstat64(wide.c_str(), &info) != 0) return FileKind::kMissing;
  if ((info.st_mode & _S_IFMT) != _S_IFREG) return FileKind::kOther;
  *size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
  return FileKind::kRegular;
}

}  // namespace vornik
