#pragma once
#include <string>

namespace vornik {

// True when `path` names an existing directory (a file of that name is not one).
bool isDirectory(const std::string& path);

// Creates the directory `path` (its parent must exist). True when it exists
// afterwards, whether created now or before.
bool createDirectory(const std::string& path);

}  // namespace vornik
