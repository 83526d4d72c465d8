#include "platform/cpu_features.h"

namespace vornik {

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
bool cpuHasSsse3() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3") != 0);
  return has;
}
bool cpuHasSse41() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("sse4.1") != 0);
  return has;
}
bool cpuHasAvx2() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
  return has;
}
#else
bool cpuHasSsse3() { return false; }
bool cpuHasSse41() { return false; }
bool cpuHasAvx2() { return false; }
#endif

}  // namespace vornik
