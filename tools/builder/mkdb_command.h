#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace vornik {

// The vornik-mkdb program: parses the command line, builds or lists a group
// file, prints progress to `out` and one-line errors to `err`. Returns the
// exit status (0 on success).
int runMkdb(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The --help text.
const char* mkdbUsage();

}  // namespace vornik
