#include "tracking/keyframe.h"

namespace vornik {

Keyframe::Keyframe() {
  keyframePose.fill(0.0f);
  for (int i = 0; i < 4; ++i) keyframePose[i * 5] = 1.0f;
}

void Keyframe::buildTrackPoints() {
  trackPoints.clear();
  trackPoints.resize(corners.size());
  for (size_t i = 0; i < corners.size(); ++i) trackPoints[i].corner = &corners[i];
}

}  // namespace vornik
