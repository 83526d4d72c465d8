#pragma once
#include <memory>
#include <vector>

#include "manager/trackable.h"
#include "vornik/vornik.h"

namespace vornik {

// Owning list of trackables, in insertion order.
class TrackingResult : public ITrackingResult {
 public:
  ITrackable& getTrackable(int32_t index) override;
  int32_t getCount() const override { return static_cast<int32_t>(trackables_.size()); }
  void clear() override { trackables_.clear(); }
  void add(const Trackable& source);

 private:
  std::vector<std::unique_ptr<Trackable>> trackables_;
};

}  // namespace vornik
