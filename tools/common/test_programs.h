#pragma once
// For the tests that run the command-line programs.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace vornik {

inline std::string readFileText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

struct ProgramRun {
  int status = -1;  // exit code, -1 when the program did not exit normally
  std::string out, err;
};

// Runs `program` with `arguments` (shell syntax, quoted by the caller); the
// output streams pass through the files `base`.out and `base`.err.
inline ProgramRun runProgram(const std::string& program, const std::string& arguments,
                             const std::string& base) {
  const int raw = std::system(
      ("'" + program + "' " + arguments + " >'" + base + ".out' 2>'" + base + ".err'").c_str());
  return {raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFileText(base + ".out"),
          readFileText(base + ".err")};
}

}  // namespace vornik
