#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "builder/recognition_features.h"

namespace vornik {

// Which (polarity, key) pairs target-free frames produce, and how many times
// in each frame: the recognizer counts one vote per feature, so a key that a
// scene repeats (a star field's blobs) weighs by its repeats.
class BackgroundKeys {
 public:
  struct Occurrence {
    int32_t frame;
    int32_t count;
  };

  void addFrame(const std::vector<FrameRecognitionFeature>& features);

  int frameCount() const { return frames_; }
  // The frames a key occurs in, in frame order; null when it never did.
  const std::vector<Occurrence>* find(uint32_t polarKey) const;

  // Expected features per target-free frame that give this key. Most keys
  // are too rare to be counted in a few dozen frames, so the estimate comes
  // from a model: the key's two halves, (M0, N0, M1) of the along-gradient
  // sums and (M2, N2, M3) of the across-gradient sums, taken as independent
  // given the polarity, each half's frequency counted with add-one
  // smoothing; a key counted more often than the model says takes its count.
  double expectedVotes(uint32_t polarKey) const;

 private:
  static constexpr int kHalfValues = 4096;

  int frames_ = 0;
  int64_t features_ = 0;
  int64_t polarityCount_[2] = {0, 0};
  std::vector<int32_t> alongCounts_ = std::vector<int32_t>(2 * kHalfValues, 0);
  std::vector<int32_t> acrossCounts_ = std::vector<int32_t>(2 * kHalfValues, 0);
  std::unordered_map<uint32_t, std::vector<Occurrence>> keys_;
};

// The builder's model of the world without targets: frames of every
// negative scene kind at the camera frame size, made once per size and
// process (safe to call from several threads).
// `cornerBudget` is the recognizer's corners per frame.
const BackgroundKeys& negativeSceneKeys(int width, int height,
                                        int cornerBudget = kRecognitionCornerBudget);

}  // namespace vornik
