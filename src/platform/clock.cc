#include "platform/clock.h"

#include <chrono>

namespace vornik {

int32_t processClockMs() {
  using Clock = std::chrono::steady_clock;
  static const Clock::time_point origin = Clock::now();
  return static_cast<int32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count());
}

}  // namespace vornik
