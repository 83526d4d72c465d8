#pragma once
// UTF-8 paths of the library's interface as the UTF-16 the Windows calls
// take, and back.
#include <string>

namespace vornik {

// Empty for an empty or malformed input.
std::wstring widePath(const std::string& utf8);
std::string utf8Path(const wchar_t* wide, size_t length);

}  // namespace vornik
