#include "testing/frame_stepper.h"

#include <utility>

#include "manager/ar_manager.h"

namespace vornik {

FrameStepper::FrameStepper(std::shared_ptr<Recognizer> recognizer, std::shared_ptr<Tracker> tracker)
    : recognizer_(std::move(recognizer)), tracker_(std::move(tracker)) {}

FrameStepper::Outcome FrameStepper::step(const uint8_t* pixels, int32_t width, int32_t height,
                                         int32_t pixelFormat, Trackable* trackable) {
  switch (stage_) {
    case kRecognising:
      if (recognizer_->recognize(width, height, pixelFormat, pixels, recognition_, hint_) !=
          kRecognized) {
        return Outcome::kNotRecognised;
      }
      stage_ = kAcquiring;
      return Outcome::kRecognised;
    case kAcquiring:
      if (tracker_->track(pixels, *trackable, hint_, recognition_) == kTrackOk) {
        acquiringFailures_ = 0;
        stage_ = kTracking;
        return Outcome::kAcquired;
      }
      if (++acquiringFailures_ >= ARManager::kAcquiringFailureLimit) {
        acquiringFailures_ = 0;
        tracker_->setKeyframeTargetId(std::string());
        stage_ = kRecognising;
      }
      return Outcome::kAcquireFailed;
    case kTracking:
      if (tracker_->track(pixels, *trackable, hint_, recognition_) == kTrackOk) {
        return Outcome::kTracked;
      }
      stage_ = kAcquiring;
      return Outcome::kLost;
  }
  return Outcome::kNotRecognised;
}

void FrameStepper::reset() {
  stage_ = kRecognising;
  acquiringFailures_ = 0;
  tracker_->setKeyframeTargetId(std::string());
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
