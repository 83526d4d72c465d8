#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "database/ardb_mngr.h"
#include "manager/trackable.h"

namespace vornik {

// Result codes of the tracker besides the database's own.
enum TrackerResult : int32_t {
  kTrackOk = 0,
  kTrackBadPixelFormat = 4,
  kTrackNotEnoughMatches = 11,
  kTrackFailed = 12,
};

// Turns the recogniser's verdict into a pose, frame after frame.
class Tracker {
 public:
  Tracker();
  ~Tracker();
  Tracker(const Tracker&) = delete;
  Tracker& operator=(const Tracker&) = delete;

  int32_t init(int32_t width, int32_t height, int32_t pixelFormat,
               std::shared_ptr<ArdbMngr> database);
  int32_t track(const uint8_t* pixels, Trackable& result, std::string hint,
                std::string recognition);

  const std::string& keyframeTargetId() const { return keyframeTargetId_; }
  // The AR manager clears it to force a new initial pose.
  void setKeyframeTargetId(const std::string& id) { keyframeTargetId_ = id; }

 private:
  std::shared_ptr<ArdbMngr> database_;
  std::string keyframeTargetId_;
};

}  // namespace vornik
