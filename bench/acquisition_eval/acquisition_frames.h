#pragma once
#include <functional>
#include <string>
#include <vector>

#include "builder/band_views.h"
#include "manager/frame_stepper.h"

namespace vornik {

// Frames of a still camera in which the live stage machine must produce a
// pose: recognise, acquire, one spare.
constexpr int kStillFrames = 3;

// A still camera fed to the live stage machine.
struct AcquireOutcome {
  bool acquired = false;  // a pose of the right target within kGoodCornerErrorPx
  int frame = 0;          // 1-based frame of that pose, 0 when none
  double error = -1.0;    // corner error of the first pose of the right target
  std::vector<FrameStepper::Outcome> outcomes;
};

// Steps `stepper` (from the Recognising stage) through kStillFrames frames
// of a still camera; `shot(i)` gives frame i (0-based; null ends the run).
// Stops at the first good pose, so later frames are rendered only when needed.
AcquireOutcome acquireStill(FrameStepper* stepper,
                            const std::function<const RenderedView*(int)>& shot,
                            const std::string& truthName, const CameraModel& camera);

}  // namespace vornik
