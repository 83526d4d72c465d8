#pragma once
#include <cstdint>

namespace vornik {

// Where in a frame the recognised target's votes came from: the median
// position of the corners that voted for the winner, in frame pixels. The
// initial pose may look there again at a finer scale.
struct VoteRegion {
  int32_t voters = 0;  // 0: no region
  float x = 0.0f;
  float y = 0.0f;
};

}  // namespace vornik
