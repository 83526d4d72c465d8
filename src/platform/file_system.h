#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace vornik {

// True when `path` names an existing directory (a file of that name is not one).
bool isDirectory(const std::string& path);

// Creates the directory `path` (its parent must exist). True when it exists
// afterwards, whether created now or before.
bool createDirectory(const std::string& path);

// std::fopen for a UTF-8 path; on Windows the name reaches the system as
// UTF-16, so names outside the ANSI code page open too.
std::FILE* openFile(const std::string& path, const char* mode);

enum class FileKind { kMissing, kRegular, kOther };
// What `path` names, without opening it (a pipe would block an open); the
// size is set for a regular file.
FileKind fileKind(const std::string& path, uint64_t* size);

}  // namespace vornik
