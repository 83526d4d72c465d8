// Placeholder until the tracking engine lands: never finds a pose.
#include "tracking/tracker.h"

namespace vornik {

Tracker::Tracker() = default;
Tracker::~Tracker() = default;
int32_t Tracker::init(int32_t, int32_t, int32_t pixelFormat, std::shared_ptr<ArdbMngr> database) {
  database_ = std::move(database);
  if (pixelFormat != 0 && pixelFormat != 1) return kTrackBadPixelFormat;
  keyframeTargetId_.clear();
  return 0;
}
int32_t Tracker::track(const uint8_t*, Trackable&, std::string, std::string) { return kTrackFailed; }

}  // namespace vornik
