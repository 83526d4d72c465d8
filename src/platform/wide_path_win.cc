#include "platform/wide_path_win.h"

#include <windows.h>

namespace vornik {

std::wstring widePath(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                         static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                      &wide[0], length);
  return wide;
}

std::string utf8Path(const wchar_t* wide, size_t length) {
  if (wide == nullptr || length == 0) return std::string();
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &utf8[0], bytes, nullptr,
                      nullptr);
  return utf8;
}

}  // namespace vornik
