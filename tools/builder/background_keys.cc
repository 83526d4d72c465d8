#include "builder/background_keys.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "builder/image_resample.h"
#include "builder/negative_scenes.h"

namespace vornik {

namespace {

// Frames per negative scene kind: half of them drawn, half their mirror
// images.
constexpr int kScenesPerKind = 8;
constexpr uint32_t kSceneSeed = 0x5CE4E5u;

// The two halves of a key: (M0, N0, M1) and (M2, N2, M3), 12 bits each.
int alongHalf(uint32_t key) {
  return static_cast<int>(((key >> 12) & 0xFF0u) | ((key >> 4) & 0xFu));
}
int acrossHalf(uint32_t key) { return static_cast<int>(((key >> 4) & 0xFF0u) | (key & 0xFu)); }

}  // namespace

void BackgroundKeys::addFrame(const std::vector<FrameRecognitionFeature>& features) {
  const int32_t frame = frames_++;
  for (const FrameRecognitionFeature& f : features) {
    const int polarity = f.polarity != 0 ? 1 : 0;
    const uint32_t key = static_cast<uint32_t>(f.key) & 0xFFFFFFu;
    ++features_;
    ++polarityCount_[polarity];
    ++alongCounts_[polarity * kHalfValues + alongHalf(key)];
    ++acrossCounts_[polarity * kHalfValues + acrossHalf(key)];
    std::vector<Occurrence>& list = keys_[polarKey(f.polarity, f.key)];
    if (list.empty() || list.back().frame != frame) list.push_back({frame, 0});
    ++list.back().count;
  }
}

const std::vector<BackgroundKeys::Occurrence>* BackgroundKeys::find(uint32_t polarKey) const {
  auto it = keys_.find(polarKey);
  return it == keys_.end() ? nullptr : &it->second;
}

double BackgroundKeys::expectedVotes(uint32_t polarKey) const {
  if (frames_ == 0) return 0.0;
  const int polarity = (polarKey >> 24) != 0 ? 1 : 0;
  const uint32_t key = polarKey & 0xFFFFFFu;
  const double n = static_cast<double>(polarityCount_[polarity]);
  const double along =
      (alongCounts_[polarity * kHalfValues + alongHalf(key)] + 1.0) / (n + kHalfValues);
  const double across =
      (acrossCounts_[polarity * kHalfValues + acrossHalf(key)] + 1.0) / (n + kHalfValues);
  double votes = n / frames_ * along * across;
  if (const std::vector<Occurrence>* seen = find(polarKey)) {
    int64_t total = 0;
    for (const Occurrence& o : *seen) total += o.count;
    votes = std::max(votes, static_cast<double>(total) / frames_);
  }
  return votes;
}

const BackgroundKeys& negativeSceneKeys(int width, int height, int cornerBudget) {
  static std::mutex mutex;
  static std::map<std::array<int, 3>, std::unique_ptr<BackgroundKeys>> cache;
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<BackgroundKeys>& model = cache[{width, height, cornerBudget}];
  if (model) return *model;
  model = std::make_unique<BackgroundKeys>();
  GradientDescriptor descriptor;
  for (int kind = 0; kind < kNegativeSceneKinds; ++kind) {
    for (int i = 0; i < kScenesPerKind / 2; ++i) {
      const Image scene = makeNegativeScene(static_cast<NegativeSceneKind>(kind), width, height,
                                            kSceneSeed + static_cast<uint32_t>(i));
      if (scene.empty()) continue;
      model->addFrame(frameRecognitionFeatures(scene.pixels.data(), width, height, &descriptor,
                                               nullptr, cornerBudget));
      // Its mirror image is another scene of the kind for a fraction of the
      // cost: the descriptor is not mirror-symmetric.
      const Image mirrored = mirrorGreyImage(scene);
      model->addFrame(frameRecognitionFeatures(mirrored.pixels.data(), width, height, &descriptor,
                                               nullptr, cornerBudget));
    }
  }
  return *model;
}

}  // namespace vornik
