#pragma once
#include <cstdint>

namespace vornik {

// Milliseconds of wall time since the process first asked. The timers and
// timing lines count in whole milliseconds, like the reference clock() of the
// original platform (which measures wall time there, unlike clock() on POSIX,
// which sums CPU time over all threads).
int32_t processClockMs();

}  // namespace vornik
