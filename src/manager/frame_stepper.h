#pragma once
#include <cstdint>
#include <string>

#include "manager/trackable.h"
#include "manager/tracking_engines.h"

namespace vornik {

// The per-frame stage machine (Recognising, Acquiring, Tracking) over a
// recogniser and a tracker. The AR manager's tracking thread runs it on the
// newest frame; the still-image tests and vornik-play run it on every frame.
class FrameStepper {
 public:
  enum Stage : int32_t { kRecognising = 0, kAcquiring = 1, kTracking = 2 };
  // Failed Acquiring calls in a row before going back to recognition.
  static constexpr int32_t kAcquiringFailureLimit = 1;
  static constexpr int32_t kMaxAcquiringAttempts = 30;

  enum class Outcome {
    kNotRecognised,  // Recognising: nothing found
    kRecognised,     // Recognising: a target was found, the next frame acquires it
    kAcquired,       // Acquiring: initial pose found (not published)
    kAcquireFailed,  // Acquiring: no initial pose
    kTracked,        // Tracking: pose found, to be published
    kLost,           // Tracking: failed, the next frame acquires again
  };

  // `engines` must outlive the stepper.
  explicit FrameStepper(TrackingEngines* engines) : engines_(engines) {}

  // One frame of the size and format the tracker was initialised for.
  // `trackable` is filled on kAcquired and kTracked.
  Outcome step(const uint8_t* pixels, int32_t width, int32_t height, int32_t pixelFormat,
               Trackable* trackable);

  Stage stage() const { return stage_; }
  // The host's opt-in: Acquiring calls in a row a recognised target gets
  // (kAcquiringFailureLimit by default), clamped to 1 .. kMaxAcquiringAttempts.
  void setAcquiringAttempts(int32_t attempts);
  // The host's opt-in: a recognised frame goes straight on to its first
  // Acquiring call instead of waiting for the next frame.
  void setAcquireOnRecognisedFrame(bool enabled) { acquireOnRecognisedFrame_ = enabled; }
  // The recogniser's last result text.
  const std::string& recognition() const { return recognition_; }
  // Back to recognition (after the tracker was initialised again, which
  // already forgets its keyframe target).
  void reset();

 private:
  TrackingEngines* engines_;
  Stage stage_ = kRecognising;
  int32_t acquiringFailures_ = 0;
  int32_t acquiringAttempts_ = kAcquiringFailureLimit;
  bool acquireOnRecognisedFrame_ = false;
  std::string recognition_;
  const std::string hint_;
};

// Lower-case name of an outcome for reports: "not_recognised", "recognised",
// "acquired", "acquire_failed", "tracked", "lost".
const char* outcomeName(FrameStepper::Outcome outcome);

}  // namespace vornik
