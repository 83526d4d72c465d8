#include "builder/recognition_training.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace vornik {

namespace {

constexpr int32_t kMinTargetViews = 2;
constexpr int32_t kBackgroundPenalty = 2;
// Features this far outside the target (share of its width) count as
// background; nearer ones are ambiguous and not counted.
constexpr double kBackgroundMargin = 0.05;

int32_t levelCodeFor(double levelPixelInTargetPixels) {
  if (!(levelPixelInTargetPixels > 0.0)) return 0;
  const int32_t code = static_cast<int32_t>(std::lround(5.0 * std::log2(levelPixelInTargetPixels)));
  return std::min(std::max(code, 0), kRecognitionLevelCount - 1);
}

}  // namespace

RecognitionTrainer::RecognitionTrainer(int targetWidth, int targetHeight,
                                       std::vector<RecognitionRecord> candidates)
    : targetWidth_(targetWidth), targetHeight_(targetHeight) {
  for (const RecognitionRecord& r : candidates) {
    const uint32_t k = polarKey(r.polarity, r.key);
    auto it = candidateOf_.find(k);
    if (it == candidateOf_.end() || r.score > it->second.score) candidateOf_[k] = r;
  }
}

void RecognitionTrainer::addView(const std::vector<FrameRecognitionFeature>& features,
                                 const Homography& frameToTarget, const Homography& targetToFrame) {
  const int32_t view = static_cast<int32_t>(viewKeys_.size());
  viewKeys_.emplace_back();
  std::vector<uint32_t>& onTarget = viewKeys_.back();
  const double margin = kBackgroundMargin * targetWidth_;
  for (const FrameRecognitionFeature& f : features) {
    const double fx = f.x * static_cast<double>(f.scale);
    const double fy = f.y * static_cast<double>(f.scale);
    double tx, ty;
    const bool mapped = applyHomography(frameToTarget, fx, fy, &tx, &ty);
    const bool inside =
        mapped && tx >= 0.0 && ty >= 0.0 && tx <= targetWidth_ - 1.0 && ty <= targetHeight_ - 1.0;
    const bool outside = !mapped || tx < -margin || ty < -margin ||
                         tx > targetWidth_ - 1.0 + margin || ty > targetHeight_ - 1.0 + margin;
    const uint32_t k = polarKey(f.polarity, f.key);
    if (inside) {
      onTarget.push_back(k);
      KeyStats& s = stats_[k];
      if (s.lastTargetView != view) {
        s.lastTargetView = view;
        ++s.targetViews;
      }
      if (!s.hasRecord) {
        // First sighting: a record at the level whose pixels match the
        // feature's size on the target.
        const double magnification = localMagnification(targetToFrame, tx, ty);
        const int32_t level = levelCodeFor(magnification > 0.0 ? f.scale / magnification : 1.0);
        const double levelScale = recognitionLevelScale(level);
        s.record.level = level;
        s.record.polarity = f.polarity;
        s.record.x =
            std::min(static_cast<int32_t>(std::lround(tx / levelScale)), kMaxRecordCoordinate);
        s.record.y =
            std::min(static_cast<int32_t>(std::lround(ty / levelScale)), kMaxRecordCoordinate);
        s.record.descriptor = f.descriptor;
        s.record.key = f.key;
        s.hasRecord = true;
      }
    } else if (outside) {
      KeyStats& s = stats_[k];
      if (s.lastBackgroundView != view) {
        s.lastBackgroundView = view;
        ++s.backgroundViews;
      }
    }
  }
}

void RecognitionTrainer::addTargetViews(std::map<uint32_t, int32_t>* totals, int sign) const {
  for (const auto& [k, s] : stats_) {
    if (s.targetViews >= kMinTargetViews) (*totals)[k] += sign * s.targetViews;
  }
}

std::vector<RecognitionRecord> RecognitionTrainer::select(int maxKeys,
                                                          const ForeignKeyEvidence* foreign) const {
  const double views = static_cast<double>(viewKeys_.size());
  struct Ranked {
    int32_t score;
    int32_t views;
    uint32_t key;
  };
  std::vector<Ranked> ranked;
  for (const auto& [k, s] : stats_) {
    if (s.targetViews < kMinTargetViews) continue;
    int32_t score = s.targetViews - kBackgroundPenalty * s.backgroundViews;
    if (foreign != nullptr) {
      auto other = foreign->otherTargetViews.find(k);
      if (other != foreign->otherTargetViews.end()) score -= other->second / 2;
      auto clutter = foreign->clutterRate.find(k);
      if (clutter != foreign->clutterRate.end()) {
        score -= static_cast<int32_t>(std::lround(kBackgroundPenalty * views * clutter->second));
      }
    }
    if (score < kMinTargetViews) continue;
    ranked.push_back({score, s.targetViews, k});
  }
  std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
    if (a.score != b.score) return a.score > b.score;
    if (a.views != b.views) return a.views > b.views;
    return a.key < b.key;
  });
  std::vector<RecognitionRecord> out;
  for (const Ranked& r : ranked) {
    if (static_cast<int>(out.size()) >= maxKeys) break;
    auto candidate = candidateOf_.find(r.key);
    RecognitionRecord record =
        candidate != candidateOf_.end() ? candidate->second : stats_.at(r.key).record;
    record.score = r.views;
    out.push_back(record);
  }
  return out;
}

double RecognitionTrainer::recall(const std::vector<RecognitionRecord>& records) const {
  if (viewKeys_.empty()) return 0.0;
  std::set<uint32_t> stored;
  for (const RecognitionRecord& r : records) stored.insert(polarKey(r.polarity, r.key));
  int recognised = 0;
  for (const std::vector<uint32_t>& keys : viewKeys_) {
    int votes = 0;
    for (uint32_t k : keys) votes += stored.count(k) ? 1 : 0;
    recognised += votes >= kRecognitionVotesNeeded ? 1 : 0;
  }
  return static_cast<double>(recognised) / viewKeys_.size();
}

std::vector<RecognitionRecord> selectUntrainedRecognition(
    const std::vector<RecognitionRecord>& candidates, int maxKeys) {
  // Candidates arrive level by level, strongest first within a level.
  std::vector<std::vector<const RecognitionRecord*>> byLevel(kRecognitionLevelCount);
  for (const RecognitionRecord& r : candidates) {
    if (r.level >= 0 && r.level < kRecognitionLevelCount) byLevel[r.level].push_back(&r);
  }
  std::vector<RecognitionRecord> out;
  std::set<uint32_t> taken;
  size_t rank = 0;
  bool more = true;
  while (more && static_cast<int>(out.size()) < maxKeys) {
    more = false;
    for (const auto& level : byLevel) {
      if (rank >= level.size()) continue;
      more = true;
      const RecognitionRecord& r = *level[rank];
      if (taken.insert(polarKey(r.polarity, r.key)).second) {
        out.push_back(r);
        if (static_cast<int>(out.size()) >= maxKeys) break;
      }
    }
    ++rank;
  }
  return out;
}

}  // namespace vornik
