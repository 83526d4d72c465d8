#pragma once
#include <string>

namespace vornik {

// Full path of the file that holds this code (the shared library, or the
// executable when linked statically), UTF-8; empty when the platform cannot
// tell.
std::string modulePath();

// `path` up to, not including, its last "/" or "\\"; the whole path when it
// has neither. Libraries loaded at run time are looked for there.
std::string moduleDirectory(const std::string& path);

}  // namespace vornik
