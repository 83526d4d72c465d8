#include "manager/tracking_result.h"

#include <stdexcept>

namespace vornik {

ITrackable& TrackingResult::getTrackable(int32_t index) {
  if (index < 0 || index >= getCount()) throw std::out_of_range("TrackingResult::getTrackable");
  return *trackables_[static_cast<size_t>(index)];
}

void TrackingResult::add(const Trackable& source) {
  auto copy = std::make_unique<Trackable>();
  copy->copyFrom(source);
  trackables_.push_back(std::move(copy));
}

}  // namespace vornik
