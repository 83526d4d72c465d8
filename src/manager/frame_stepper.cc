#include "manager/frame_stepper.h"

#include <algorithm>

namespace vornik {

FrameStepper::Outcome FrameStepper::step(const uint8_t* pixels, int32_t width, int32_t height,
                                         int32_t pixelFormat, Trackable* trackable) {
  switch (stage_) {
    case kRecognising:
      if (engines_->recognize(width, height, pixelFormat, pixels, recognition_, hint_) != 0) {
        return Outcome::kNotRecognised;
      }
      stage_ = kAcquiring;
      if (!acquireOnRecognisedFrame_) return Outcome::kRecognised;
      [[fallthrough]];
    case kAcquiring:
      if (engines_->track(pixels, *trackable, hint_, recognition_) == 0) {
        acquiringFailures_ = 0;
        stage_ = kTracking;
        return Outcome::kAcquired;
      }
      if (++acquiringFailures_ >= acquiringAttempts_) {
        acquiringFailures_ = 0;
        engines_->clearKeyframeTarget();
        stage_ = kRecognising;
      }
      return Outcome::kAcquireFailed;
    case kTracking:
      if (engines_->track(pixels, *trackable, hint_, recognition_) == 0) {
        return Outcome::kTracked;
      }
      stage_ = kAcquiring;
      return Outcome::kLost;
  }
  return Outcome::kNotRecognised;
}

void FrameStepper::setAcquiringAttempts(int32_t attempts) {
  acquiringAttempts_ = std::clamp(attempts, 1, kMaxAcquiringAttempts);
}

void FrameStepper::reset() {
  stage_ = kRecognising;
  acquiringFailures_ = 0;
}

const char* outcomeName(FrameStepper::Outcome outcome) {
  switch (outcome) {
    case FrameStepper::Outcome::kNotRecognised:
      return "not_recognised";
    case FrameStepper::Outcome::kRecognised:
      return "recognised";
    case FrameStepper::Outcome::kAcquired:
      return "acquired";
    case FrameStepper::Outcome::kAcquireFailed:
      return "acquire_failed";
    case FrameStepper::Outcome::kTracked:
      return "tracked";
    case FrameStepper::Outcome::kLost:
      return "lost";
  }
  return "unknown";
}

}  // namespace vornik
