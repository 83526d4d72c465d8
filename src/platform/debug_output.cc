#include "platform/debug_output.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vornik {

void writeDebugOutput(const char* text) {
#ifdef _WIN32
  OutputDebugStringA(text);
#else
  std::fputs(text, stderr);
  std::fflush(stderr);
#endif
}

}  // namespace vornik
