#pragma once
#include <string>

#include "vornik/vornik.h"

namespace vornik {

// What the system knows about one tracked target in one frame.
class Trackable : public ITrackable {
 public:
  Trackable();
  Trackable(const Trackable& other) { copyFrom(other); }
  Trackable& operator=(const Trackable& other) {
    if (this != &other) copyFrom(other);
    return *this;
  }

  void copyFrom(const Trackable& source);

  const float* getPose() const override { return pose_; }
  float getDistance() const override { return distance_; }
  float getWidth() const override { return width_; }
  float getHeight() const override { return height_; }
  std::string getName() const override { return name_; }
  std::string getId() const override { return id_; }

  float* pose() { return pose_; }
  void setId(const std::string& id) { id_ = id; }
  void setName(const std::string& name) { name_ = name; }
  void setWidth(float width) { width_ = width; }
  void setHeight(float height) { height_ = height; }
  void setDistance(float distance) { distance_ = distance; }

 private:
  float pose_[16];
  std::string id_;
  std::string name_;
  float width_ = 0.0f;
  float height_ = 0.0f;
  float distance_ = 0.0f;
};

}  // namespace vornik
