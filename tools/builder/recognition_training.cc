#include "builder/recognition_training.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <set>

namespace vornik {

namespace {

constexpr int32_t kMinTargetViews = 2;
constexpr int32_t kBackgroundPenalty = 2;
// Features this far outside the target (share of its width) count as
// background; nearer ones are ambiguous and not counted.
constexpr double kBackgroundMargin = 0.05;
// Places on the target are cells of this share of its width; a key seen in
// more than kMaxPlaces of them is a repeated structure.
constexpr double kPlaceCell = 1.0 / 16.0;
constexpr size_t kMaxPlaces = 2;
constexpr size_t kPlacesKept = 8;
// A key the mirrored target also gives is charged this many times its rate
// there: the mirror stands for every other picture of its kind.
constexpr double kMirrorWeight = 4.0;

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
                                 const Homography& frameToTarget, const Homography& targetToFrame,
                                 const std::vector<OrientationVariant>* variants) {
  const int32_t view = static_cast<int32_t>(viewKeys_.size());
  viewKeys_.emplace_back();
  std::vector<uint32_t>& onTarget = viewKeys_.back();
  const double margin = kBackgroundMargin * targetWidth_;
  // Where each feature lies: 1 on the target (its target position kept),
  // -1 clearly outside, 0 near the edge (not counted).
  std::vector<int8_t> side(features.size(), 0);
  std::vector<std::array<double, 2>> position(features.size());
  for (size_t i = 0; i < features.size(); ++i) {
    const FrameRecognitionFeature& f = features[i];
    const double fx = f.x * static_cast<double>(f.scale);
    const double fy = f.y * static_cast<double>(f.scale);
    double tx, ty;
    const bool mapped = applyHomography(frameToTarget, fx, fy, &tx, &ty);
    const bool inside =
        mapped && tx >= 0.0 && ty >= 0.0 && tx <= targetWidth_ - 1.0 && ty <= targetHeight_ - 1.0;
    const bool outside = !mapped || tx < -margin || ty < -margin ||
                         tx > targetWidth_ - 1.0 + margin || ty > targetHeight_ - 1.0 + margin;
    side[i] = inside ? 1 : outside ? -1 : 0;
    position[i] = {tx, ty};
  }
  auto sight = [&](size_t i, int32_t key, const std::array<uint8_t, kDescriptorBytes>& descriptor) {
    const FrameRecognitionFeature& f = features[i];
    const uint32_t k = polarKey(f.polarity, key);
    if (side[i] < 0) {
      KeyStats& s = stats_[k];
      if (s.lastBackgroundView != view) {
        s.lastBackgroundView = view;
        ++s.backgroundViews;
      }
      return;
    }
    if (side[i] == 0) return;
    const double tx = position[i][0];
    const double ty = position[i][1];
    KeyStats& s = stats_[k];
    if (s.lastTargetView != view) {
      s.lastTargetView = view;
      ++s.targetViews;
    }
    const double cell = kPlaceCell * targetWidth_;
    const int32_t place = static_cast<int32_t>(ty / cell) * 1024 + static_cast<int32_t>(tx / cell);
    if (s.places.size() < kPlacesKept &&
        std::find(s.places.begin(), s.places.end(), place) == s.places.end()) {
      s.places.push_back(place);
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
      s.record.descriptor = descriptor;
      s.record.key = key;
      s.hasRecord = true;
    }
  };
  for (size_t i = 0; i < features.size(); ++i) {
    if (side[i] > 0) onTarget.push_back(polarKey(features[i].polarity, features[i].key));
    sight(i, features[i].key, features[i].descriptor);
  }
  // Variants are what nearby views would give: they count as sightings of
  // their keys, but not as keys this view produced (the recall measure).
  if (variants != nullptr) {
    for (const OrientationVariant& v : *variants) {
      if (v.feature < features.size()) sight(v.feature, v.key, v.descriptor);
    }
  }
}

void RecognitionTrainer::addMirrorView(const std::vector<FrameRecognitionFeature>& features) {
  mirror_.addFrame(features);
}

void RecognitionTrainer::addTargetViews(std::map<uint32_t, int32_t>* totals, int sign) const {
  for (const auto& [k, s] : stats_) {
    if (s.targetViews >= kMinTargetViews) (*totals)[k] += sign * s.targetViews;
  }
}

std::vector<RecognitionRecord> RecognitionTrainer::select(int maxKeys,
                                                          const ForeignKeyEvidence* foreign) const {
  const BackgroundKeys* background = foreign != nullptr ? foreign->background : nullptr;
  struct Ranked {
    double merit;
    int32_t score;
    int32_t views;
    uint32_t key;
    double cost;  // expected votes per target-free frame
  };
  std::vector<Ranked> ranked;
  for (const auto& [k, s] : stats_) {
    if (s.targetViews < kMinTargetViews) continue;
    int32_t score = s.targetViews - kBackgroundPenalty * s.backgroundViews;
    if (foreign != nullptr) {
      auto other = foreign->otherTargetViews.find(k);
      if (other != foreign->otherTargetViews.end()) score -= other->second / 2;
    }
    if (score < kMinTargetViews) continue;
    double cost = 0.0;
    if (background != nullptr) {
      cost = kKeyCostFloor + background->expectedVotes(k);
      if (const std::vector<BackgroundKeys::Occurrence>* seen = mirror_.find(k)) {
        int32_t total = 0;
        for (const BackgroundKeys::Occurrence& o : *seen) total += o.count;
        cost += kMirrorWeight * total / mirror_.frameCount();
      }
      if (s.places.size() > kMaxPlaces) cost *= static_cast<double>(s.places.size());
    }
    const double merit = background != nullptr ? score / cost : score;
    ranked.push_back({merit, score, s.targetViews, k, cost});
  }
  std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
    if (a.merit != b.merit) return a.merit > b.merit;
    if (a.views != b.views) return a.views > b.views;
    return a.key < b.key;
  });
  std::vector<int32_t> frameVotes(background != nullptr ? background->frameCount() : 0, 0);
  std::vector<int32_t> mirrorVotes(mirror_.frameCount(), 0);
  // Whether a key's occurrences keep every frame's vote total within the
  // cap, and adding them to the totals.
  auto fits = [](const std::vector<BackgroundKeys::Occurrence>* seen,
                 const std::vector<int32_t>& votes) {
    if (seen == nullptr) return true;
    for (const BackgroundKeys::Occurrence& o : *seen) {
      if (votes[o.frame] + o.count > kMaxBackgroundVotes) return false;
    }
    return true;
  };
  auto add = [](const std::vector<BackgroundKeys::Occurrence>* seen, std::vector<int32_t>* votes) {
    if (seen == nullptr) return;
    for (const BackgroundKeys::Occurrence& o : *seen) (*votes)[o.frame] += o.count;
  };
  double spent = 0.0;
  std::vector<RecognitionRecord> out;
  for (const Ranked& r : ranked) {
    if (static_cast<int>(out.size()) >= maxKeys) break;
    if (background != nullptr) {
      if (spent + r.cost > foreign->backgroundVoteBudget) continue;
      const auto* seen = background->find(r.key);
      const auto* mirrored = mirror_.find(r.key);
      if (!fits(seen, frameVotes) || !fits(mirrored, mirrorVotes)) continue;
      add(seen, &frameVotes);
      add(mirrored, &mirrorVotes);
      spent += r.cost;
    }
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
