#include "common/pose_sequence.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

namespace vornik {
namespace {

const CameraModel kVga{640, 480};
const SequenceKind kAllKinds[] = {SequenceKind::kOrbit,  SequenceKind::kApproach,
                                  SequenceKind::kShake,  SequenceKind::kPan,
                                  SequenceKind::kStatic, SequenceKind::kReenter};

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
    if (kind == SequenceKind::kStatic) {
      EXPECT_EQ(largestStep, 0.0);
    } else {
      EXPECT_GT(largestStep, 0.3);
    }
    // Repeated calls give the same pose.
    EXPECT_EQ(frameTruth(kind, 123, count).cameraFromTarget,
              frameTruth(kind, 123, count).cameraFromTarget);
  }
}

TEST(PoseSequence, SlowAndFastMotionsDifferInSpeed) {
  auto speed = [](SequenceKind kind) {
    double fastest = 0;
    for (int i = 1; i < kDefaultSequenceFrames; ++i)
      fastest = std::max(fastest,
                         largestCornerStep(frameTruth(kind, i - 1, 300), frameTruth(kind, i, 300)));
    return fastest;
  };
  EXPECT_LT(speed(SequenceKind::kOrbit), 5.0);
  EXPECT_GT(speed(SequenceKind::kPan), 12.0);
}

TEST(PoseSequence, ReenterLeavesTheFrameAndComesBack) {
  const int count = 120;
  EXPECT_TRUE(frameTruth(SequenceKind::kReenter, 0, count).fullyInView);
  const FrameTruth away = frameTruth(SequenceKind::kReenter, count / 2, count);
  for (int i = 0; i < 4; ++i) EXPECT_GT(away.corners[2 * i], 640.0);
  EXPECT_TRUE(frameTruth(SequenceKind::kReenter, count - 1, count).fullyInView);
}

TEST(PoseSequence, ApproachSpansNearAndFar) {
  double nearest = 0, farthest = 1e9;
  for (int i = 0; i < 100; ++i) {
    const double width = sequenceView(SequenceKind::kApproach, i, 100).widthFraction;
    nearest = std::max(nearest, width);
    farthest = std::min(farthest, width);
  }
  EXPECT_NEAR(farthest, 0.2, 1e-9);
  EXPECT_NEAR(nearest, 0.9, 1e-9);
}

TEST(PoseSequence, OrbitGoesAllTheWayRound) {
  // The foreshortened direction turns once: the top-left corner visits
  // both sides of its frontal position.
  const FrameTruth frontal = computeFrameTruth(poseFromView(ViewParams(), kVga), 512, 512, kVga);
  double least = 1e9, most = -1e9;
  for (int i = 0; i < 300; i += 5) {
    const double u = frameTruth(SequenceKind::kOrbit, i, 300).corners[0];
    least = std::min(least, u);
    most = std::max(most, u);
  }
  EXPECT_LT(least, frontal.corners[0] - 5);
  EXPECT_GT(most, frontal.corners[0] + 5);
}

TEST(PoseSequence, NamesParseBothWays) {
  for (SequenceKind kind : kAllKinds) {
    SequenceKind parsed = SequenceKind::kOrbit;
    ASSERT_TRUE(parseSequenceKind(sequenceKindName(kind), &parsed));
    EXPECT_EQ(parsed, kind);
  }
  SequenceKind parsed = SequenceKind::kPan;
  EXPECT_FALSE(parseSequenceKind("Orbit", &parsed));
  EXPECT_FALSE(parseSequenceKind("", &parsed));
  EXPECT_EQ(parsed, SequenceKind::kPan);
}

}  // namespace
}  // namespace vornik
