#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vornik {

// Where in a frame the recognised target's votes came from: the median
// position of the corners that voted for the winner, in frame pixels. The
// initial pose may look there again at a finer scale.
struct VoteRegion {
  int32_t voters = 0;  // 0: no region
  float x = 0.0f;
  float y = 0.0f;
};

// A target that a frame's votes name, strongest first; the initial pose may
// try the runners-up where the first gives none (poseCandidates).
struct RecognitionCandidate {
  std::string name;
  int32_t votes = 0;
  VoteRegion region;
};

// The most of the `count` points (xs, ys) that one disc of `radius` around
// one of them holds, and that point in (*centreX, *centreY); the first such
// point where several hold as many. 0, centre untouched, for no points.
int32_t densestDisc(const float* xs, const float* ys, size_t count, float radius, float* centreX,
                    float* centreY);

}  // namespace vornik
