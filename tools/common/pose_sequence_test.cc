#include "common/pose_sequence.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

namespace vornik {
namespace {

const CameraModel kVga{640, 480};
const SequenceKind kAllKinds[] = {
    SequenceKind::kOrbit, SequenceKind::kApproach, SequenceKind::kShake,
    SequenceKind::kPan,   SequenceKind::kStatic,   SequenceKind::kReenter,
    SequenceKind::kZoom,  SequenceKind::kRecede,   SequenceKind::kNear};

FrameTruth frameTruth(SequenceKind kind, int index, int count) {
  return computeFrameTruth(poseFromView(sequenceView(kind, index, count), kVga), 512, 512, kVga);
}

double largestCornerStep(const FrameTruth& a, const FrameTruth& b) {
  double step = 0;
  for (int i = 0; i < 4; ++i)
    step = std::max(step, std::hypot(a.corners[2 * i] - b.corners[2 * i],
                                     a.corners[2 * i + 1] - b.corners[2 * i + 1]));
  return step;
}

TEST(PoseSequence, EveryKindMovesSmoothlyFrameToFrame) {
  const int count = kDefaultSequenceFrames;
  for (SequenceKind kind : kAllKinds) {
    double largestStep = 0, largestJerk = 0;
    FrameTruth before = frameTruth(kind, 0, count), now = frameTruth(kind, 1, count);
    for (int i = 2; i < count; ++i) {
      const FrameTruth next = frameTruth(kind, i, count);
      largestStep = std::max(largestStep, largestCornerStep(now, next));
      // Change of corner velocity: no jumps, only gradual acceleration.
      for (int k = 0; k < 8; ++k) {
        largestJerk = std::max(largestJerk,
                               std::fabs(next.corners[k] - 2 * now.corners[k] + before.corners[k]));
      }
      before = now;
      now = next;
    }
    SCOPED_TRACE(sequenceKindName(kind));
    EXPECT_LT(largestStep, 20.0);
    // Every motion has a period of at least 11 frames, which bounds its
    // acceleration to 2 pi / 11 of its speed; a jump would reach the speed.
    EXPECT_LE(largestJerk, 0.6 * largestStep) << largestStep;
    if (kind == SequenceKind::kStatic || kind == SequenceKind::kNear) {
      EXPECT_EQ(largestStep, 0.0);
    } else {
      EXPECT_GT(largestStep, 0.3);
    }
  }
}

}  // namespace
}  // namespace vornik
