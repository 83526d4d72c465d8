#include "acquisition_frames.h"

#include <array>

namespace vornik {

AcquireOutcome acquireStill(FrameStepper* stepper,
                            const std::function<const RenderedView*(int)>& shot,
                            const std::string& truthName, const CameraModel& camera) {
  AcquireOutcome out;
  for (int i = 0; i < kStillFrames && !out.acquired; ++i) {
    const RenderedView* frame = shot(i);
    if (frame == nullptr) break;
    const Image& image = frame->frame;
    Trackable result;
    const FrameStepper::Outcome outcome =
        stepper->step(image.pixels.data(), image.width, image.height, 0, &result);
    out.outcomes.push_back(outcome);
    const bool posed =
        outcome == FrameStepper::Outcome::kAcquired || outcome == FrameStepper::Outcome::kTracked;
    std::array<double, 8> corners{};
    if (!posed || result.getId() != truthName || !resultCorners(result, camera, &corners)) continue;
    const double error = cornerError(corners, frame->truth.corners);
    if (out.error < 0.0) out.error = error;
    if (error <= kGoodCornerErrorPx) {
      out.acquired = true;
      out.frame = i + 1;
      out.error = error;
    }
  }
  return out;
}

}  // namespace vornik
