#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "builder/background_keys.h"
#include "builder/recognition_features.h"
#include "builder/view_homography.h"

namespace vornik {

// Votes a target needs: the recognizer accepts more than 4.
constexpr int32_t kRecognitionVotesNeeded = 5;

// Evidence that a key is not particular to one target: in how many training
// views of the other targets of a batch it appeared, and how often
// target-free scenes produce it.
struct ForeignKeyEvidence {
  std::map<uint32_t, int32_t> otherTargetViews;
  const BackgroundKeys* background = nullptr;
  // Votes the stored keys may expect, together, from one target-free frame.
  double backgroundVoteBudget = 1.8;
};

// Least stray votes per target-free frame any key is charged: the
// background model cannot count keys rarer than its few dozen frames
// resolve, and measured on photographs such keys still cost about this.
constexpr double kKeyCostFloor = 1e-3;

// Most votes a target's stored keys may collect, together, from any one
// frame of the background model or mirror view; the recognizer needs 5.
constexpr int32_t kMaxBackgroundVotes = 2;

// Collects which (polarity, key) pairs the live recognizer produces on the
// target across training views, and which it produces on the background.
class RecognitionTrainer {
 public:
  RecognitionTrainer(int targetWidth, int targetHeight, std::vector<RecognitionRecord> candidates);

  // One rendered view: the frame's features and the homography from frame
  // pixels to target pixels (and back).
  // With `variants`, their keys count as sightings at their features too.
  void addView(const std::vector<FrameRecognitionFeature>& features,
               const Homography& frameToTarget, const Homography& targetToFrame,
               const std::vector<OrientationVariant>* variants = nullptr);

  // A view of the mirrored target: its keys are the target's own kind of
  // structure without the target's layout, so keys it shares with the
  // target come from symmetric, common structures.
  void addMirrorView(const std::vector<FrameRecognitionFeature>& features);

  // The records to store, at most `maxKeys`, one per (polarity, key): pairs
  // seen on the target in at least two views. A pair's worth is how many
  // views produced it, less twice the views that produced it on the
  // background, less half the views of other targets that produced it (so
  // a shared key stays with the target that shows it most). With a
  // background model a pair's cost is the votes it is expected to give a
  // target-free frame: at least kKeyCostFloor, plus the model's estimate
  // and four times its rate in mirror views, times the number of places on
  // the target it came from when that is more than two (a repeated
  // structure). Pairs
  // are taken by worth over cost while the costs taken stay within the
  // budget and no frame of the model or mirror view gives the keys taken
  // more than kMaxBackgroundVotes votes: the most recurring target keys for
  // the fewest stray votes. Each record comes from a clean-image candidate
  // with that key when there is one.
  std::vector<RecognitionRecord> select(int maxKeys,
                                        const ForeignKeyEvidence* foreign = nullptr) const;

  // Adds, per key seen on this target in at least two views, that view
  // count to `totals`; with `sign` -1 takes it away again.
  void addTargetViews(std::map<uint32_t, int32_t>* totals, int sign = 1) const;

  // Share of the views in which `records` would collect enough votes from
  // the target's own features.
  double recall(const std::vector<RecognitionRecord>& records) const;

  int viewCount() const { return static_cast<int>(viewKeys_.size()); }

 private:
  struct KeyStats {
    int32_t targetViews = 0;
    int32_t backgroundViews = 0;
    int32_t lastTargetView = -1;
    int32_t lastBackgroundView = -1;
    std::vector<int32_t> places;  // coarse target cells it was seen at, a few
    bool hasRecord = false;
    RecognitionRecord record;  // representative
  };

  int targetWidth_;
  int targetHeight_;
  std::map<uint32_t, KeyStats> stats_;
  std::map<uint32_t, RecognitionRecord> candidateOf_;
  std::vector<std::vector<uint32_t>> viewKeys_;  // on-target keys per view
  BackgroundKeys mirror_;
};

// Without training: the clean-image candidates, one per (polarity, key),
// taken level by level in turns (strongest first within a level) so every
// scale is represented, at most `maxKeys`.
std::vector<RecognitionRecord> selectUntrainedRecognition(
    const std::vector<RecognitionRecord>& candidates, int maxKeys);

}  // namespace vornik
