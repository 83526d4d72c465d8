#include <cstdio>
#include <string>
#include <vector>

#include "builder/mkdb_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vornik::runMkdb(args, stdout, stderr);
}
