#include "manager/trackable.h"

namespace vornik {

Trackable::Trackable() : name_("__null") {
  for (float& v : pose_) v = 0.0f;
}

void Trackable::copyFrom(const Trackable& source) {
  for (int i = 0; i < 16; ++i) pose_[i] = source.pose_[i];
  width_ = source.width_;
  height_ = source.height_;
  distance_ = source.distance_;
  name_ = source.getName();
  id_ = source.getId();
}

}  // namespace vornik
