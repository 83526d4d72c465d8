#pragma once
#include <string>

namespace vornik {

// True when `path` can be opened as a directory.
bool directoryExists(const std::string& path);

// Creates `path` and, first, every missing parent up to (not including) the
// component before the first "/". "/" is the only separator; creation errors
// are ignored (an existing directory is fine).
void makeDirectories(const std::string& path);

}  // namespace vornik
