#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "manager/trackable.h"
#include "recognition/recognizer.h"
#include "tracking/tracker.h"

namespace vornik {

// The AR manager's per-frame stage machine (Recognising, Acquiring,
// Tracking) over a recogniser and a tracker, run on the caller's thread for
// every frame it is given: what the tracking thread does, without its frame
// dropping.
class FrameStepper {
 public:
  enum Stage : int32_t { kRecognising = 0, kAcquiring = 1, kTracking = 2 };
  enum class Outcome {
    kNotRecognised,  // Recognising: nothing found
    kRecognised,     // Recognising: a target was found, the next frame acquires it
    kAcquired,       // Acquiring: initial pose found (not published by the manager)
    kAcquireFailed,  // Acquiring: no initial pose, back to recognition
    kTracked,        // Tracking: pose published
    kLost,           // Tracking: failed, the next frame acquires again
  };

  FrameStepper(std::shared_ptr<Recognizer> recognizer, std::shared_ptr<Tracker> tracker);

  // One frame of the size and format the tracker was initialised for.
  // `trackable` is filled on kAcquired and kTracked.
  Outcome step(const uint8_t* pixels, int32_t width, int32_t height, int32_t pixelFormat,
               Trackable* trackable);

  Stage stage() const { return stage_; }
  // The recogniser's last result text.
  const std::string& recognition() const { return recognition_; }
  // Back to recognition with a fresh initial pose for the next target.
  void reset();

 private:
  std::shared_ptr<Recognizer> recognizer_;
  std::shared_ptr<Tracker> tracker_;
  Stage stage_ = kRecognising;
  int32_t acquiringFailures_ = 0;
  std::string recognition_;
  const std::string hint_;
};

// Lower-case name of an outcome for reports: "not_recognised", "recognised",
// "acquired", "acquire_failed", "tracked", "lost".
const char* outcomeName(FrameStepper::Outcome outcome);

}  // namespace vornik
