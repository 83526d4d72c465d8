#include "common/pose_sequence.h"

#include <cmath>

namespace vornik {
namespace {

constexpr double kTwoPi = 6.28318530717958647692;

struct KindName {
  SequenceKind kind;
  const char* name;
};
constexpr KindName kKindNames[] = {
    {SequenceKind::kOrbit, "orbit"},   {SequenceKind::kApproach, "approach"},
    {SequenceKind::kShake, "shake"},   {SequenceKind::kPan, "pan"},
    {SequenceKind::kStatic, "static"}, {SequenceKind::kReenter, "reenter"},
    {SequenceKind::kZoom, "zoom"},     {SequenceKind::kRecede, "recede"},
    {SequenceKind::kNear, "near"},
};

// Periods of the faster motions are in frames so their speed does not depend
// on the sequence length.
constexpr double kPanPeriodFrames = 60.0;
constexpr double kShakePeriodsFrames[3] = {11.0, 17.0, 29.0};

}  // namespace

bool parseSequenceKind(const std::string& name, SequenceKind* kind) {
  for (const KindName& entry : kKindNames) {
    if (name == entry.name) {
      *kind = entry.kind;
      return true;
    }
  }
  return false;
}

const char* sequenceKindName(SequenceKind kind) {
  for (const KindName& entry : kKindNames)
    if (entry.kind == kind) return entry.name;
  return "unknown";
}

ViewParams sequenceView(SequenceKind kind, int frameIndex, int frameCount) {
  const double phase = frameCount > 0 ? static_cast<double>(frameIndex) / frameCount : 0.0;
  const double cycle = kTwoPi * phase;
  // 0 at both ends, 1 half way: a motion that starts and ends at rest.
  const double there = 0.5 * (1.0 - std::cos(cycle));
  const double i = frameIndex;
  ViewParams view;
  switch (kind) {
    case SequenceKind::kOrbit:
      view.tiltDeg = 35.0;
      view.tiltDirectionDeg = 360.0 * phase;
      view.widthFraction = 0.5;
      break;
    case SequenceKind::kApproach:
      view.tiltDeg = 15.0;
      view.tiltDirectionDeg = 30.0;
      // Scale changes geometrically, so the apparent speed stays even.
      view.widthFraction = 0.2 * std::pow(0.9 / 0.2, there);
      break;
    case SequenceKind::kShake:
      view.tiltDeg = 20.0 + 2.0 * std::sin(kTwoPi * i / kShakePeriodsFrames[2]);
      view.tiltDirectionDeg = 60.0;
      view.rotationDeg = 3.0 * std::sin(kTwoPi * i / kShakePeriodsFrames[1] + 1.0);
      view.widthFraction = 0.5;
      view.offsetX = 0.02 * std::sin(kTwoPi * i / kShakePeriodsFrames[0]);
      view.offsetY = 0.02 * std::sin(kTwoPi * i / kShakePeriodsFrames[1] + 2.0);
      break;
    case SequenceKind::kPan:
      view.tiltDeg = 10.0;
      view.widthFraction = 0.4;
      view.offsetX = 0.25 * std::sin(kTwoPi * i / kPanPeriodFrames);
      view.offsetY = 0.05 * std::sin(kTwoPi * i / (2.0 * kPanPeriodFrames));
      break;
    case SequenceKind::kStatic:
      view.tiltDeg = 20.0;
      view.tiltDirectionDeg = 45.0;
      view.rotationDeg = 5.0;
      view.widthFraction = 0.5;
      break;
    case SequenceKind::kReenter:
      view.tiltDeg = 10.0;
      view.widthFraction = 0.4;
      // Centre 0.9 frame widths to the right: the whole target is outside.
      view.offsetX = 0.9 * there;
      break;
    case SequenceKind::kZoom:
      view.tiltDeg = 15.0;
      view.tiltDirectionDeg = 30.0;
      view.widthFraction = 0.1 * std::pow(9.0, there);
      view.offsetY = 0.02 * std::sin(kTwoPi * i / kShakePeriodsFrames[1] + 2.0);
      break;
    case SequenceKind::kRecede:
      view.tiltDeg = 15.0;
      view.tiltDirectionDeg = 210.0;
      // At rest at both ends: from 0.9 to 0.1 along half a cosine.
      view.widthFraction = 0.9 * std::pow(1.0 / 9.0, 0.5 * (1.0 - std::cos(0.5 * cycle)));
      break;
    case SequenceKind::kNear:
      view.tiltDeg = 15.0;
      view.tiltDirectionDeg = 120.0;
      view.rotationDeg = -4.0;
      view.widthFraction = 0.7;
      break;
  }
  return view;
}

}  // namespace vornik
