#pragma once
#include <string>

#include "common/view_geometry.h"

namespace vornik {

// Camera motions of the synthetic sequences. Each is a smooth function of
// the frame index; the whole motion plays once over the frame count.
enum class SequenceKind {
  kOrbit,     // slow walk around the target at a constant 35 degree tilt
  kApproach,  // closing in from far to near and backing off again
  kShake,     // a held camera's small fast jitter around a fixed view
  kPan,       // fast side-to-side sweeps, up to about 17 px per frame at 640 wide
  kStatic,    // one fixed view (frames differ only by image noise)
  kReenter,   // the target slides out of the frame and comes back
  kZoom,      // from 10 % of the frame width to 90 % and back
  kRecede,    // backing off from 90 % of the frame width to 10 %
  kNear,      // one fixed view at 70 % of the frame width
};

constexpr int kDefaultSequenceFrames = 300;

// Names as on the command line: orbit, approach, shake, pan, static, reenter,
// zoom, recede, near.
bool parseSequenceKind(const std::string& name, SequenceKind* kind);
const char* sequenceKindName(SequenceKind kind);

// View of frame `frameIndex` (0 .. frameCount - 1) of a sequence.
ViewParams sequenceView(SequenceKind kind, int frameIndex, int frameCount);

}  // namespace vornik
