#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "builder/recognition_features.h"
#include "builder/view_homography.h"

namespace vornik {

// Votes a target needs: the recognizer accepts more than 4.
constexpr int32_t kRecognitionVotesNeeded = 5;

// Evidence that a key is not particular to one target: in how many training
// views of the other targets of a batch it appeared, and the share of plain
// clutter frames that produce it.
struct ForeignKeyEvidence {
  std::map<uint32_t, int32_t> otherTargetViews;
  std::map<uint32_t, double> clutterRate;
};

// Collects which (polarity, key) pairs the live recognizer produces on the
// target across training views, and which it produces on the background.
class RecognitionTrainer {
 public:
  RecognitionTrainer(int targetWidth, int targetHeight, std::vector<RecognitionRecord> candidates);

  // One rendered view: the frame's features and the homography from frame
  // pixels to target pixels (and back).
  void addView(const std::vector<FrameRecognitionFeature>& features,
               const Homography& frameToTarget, const Homography& targetToFrame);

  // The records to store, at most `maxKeys`, one per (polarity, key): pairs
  // seen on the target in at least two views, ranked by how many views
  // produced them, less twice the views that produced them on the
  // background, less half the views of other targets that produced them
  // (so a shared key stays with the target that shows it most), less twice
  // the views expected from clutter. Each record comes from a
  // clean-image candidate with that key when there is one.
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
    bool hasRecord = false;
    RecognitionRecord record;  // representative
  };

  int targetWidth_;
  int targetHeight_;
  std::map<uint32_t, KeyStats> stats_;
  std::map<uint32_t, RecognitionRecord> candidateOf_;
  std::vector<std::vector<uint32_t>> viewKeys_;  // on-target keys per view
};

// Without training: the clean-image candidates, one per (polarity, key),
// taken level by level in turns (strongest first within a level) so every
// scale is represented, at most `maxKeys`.
std::vector<RecognitionRecord> selectUntrainedRecognition(
    const std::vector<RecognitionRecord>& candidates, int maxKeys);

}  // namespace vornik
