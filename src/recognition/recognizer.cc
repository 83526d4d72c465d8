#include "recognition/recognizer.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "features/corner_detection.h"
#include "features/descriptor_key.h"
#include "features/enlarge.h"
#include "features/frame.h"
#include "features/gray_image.h"
#include "manager/profiler.h"

namespace vornik {

namespace {

constexpr char kResultPrefix[] = "{[{\"id\":\"";
constexpr char kResultSuffix[] = "\"}]}";

}  // namespace

std::string recognitionText(const std::string& name) {
  std::string text(kResultPrefix);
  text.append(name);
  text.append(kResultSuffix);
  return text;
}

Recognizer::Recognizer() = default;
Recognizer::~Recognizer() = default;

int32_t Recognizer::init(std::shared_ptr<ArdbMngr> database) {
  database_ = std::move(database);
  descriptor_ = std::make_shared<GradientDescriptor>();
  return 0;
}

int32_t Recognizer::recognize(int32_t width, int32_t height, int32_t pixelFormat,
                              const uint8_t* pixels, std::string& result, std::string /*hint*/) {
  winnerRegion_ = VoteRegion();
  candidates_.clear();
  if (!database_) return kRecognizerNoDatabase;
  // Nothing to look at: not a target, and no timer is left running.
  if (pixels == nullptr || width <= 0 || height <= 0) return kNotRecognized;

  startTimer(kTimerRecognitionOptTotal);
  startTimer(kTimerRecognitionOptPyramid);
  Frame frame;
  frame.buildPyramid(std::make_unique<GrayImage>(width, height, pixels, pixelFormat == 0));
  const int32_t levelCount = frame.levelCount();
  stopTimer(kTimerRecognitionOptPyramid);

  startTimer(kTimerRecognitionOptDetection);
  HessianGradientFeatureMngr features(levelCount);
  detectRecognitionCorners(frame, &features, options_.cornerBudget);
  stopTimer(kTimerRecognitionOptDetection);

  startTimer(kTimerRecognitionOptDescription);
  for (int32_t level = 0; level < levelCount; ++level) {
    const GrayImage* image = frame.getLevel(level);
    descriptor_->describeLevel(image->width, image->height, image->pixels.get(), level, &features);
  }
  stopTimer(kTimerRecognitionOptDescription);

  startTimer(kTimerRecognitionOptMatching);
  const float discRadius = 0.01f * static_cast<float>(options_.voteDiscPercent) * width;
  int32_t status = matchFeatures(features, winner_, discRadius);
  stopTimer(kTimerRecognitionOptMatching);
  if (status != kRecognized && options_.windowRetryVotes > 0 &&
      leaderRegion_.voters >= options_.windowRetryVotes) {
    status = recognizeWindow(*frame.getLevel(0), discRadius);
  }

  if (status == kRecognized) result = recognitionText(winner_);
  stopTimer(kTimerRecognitionOptTotal);
  return status;
}

int32_t Recognizer::recognizeWindow(const GrayImage& image, float discRadius) {
  const int32_t windowWidth = image.width / 2;
  const int32_t windowHeight = image.height / 2;
  int32_t left = 0;
  int32_t top = 0;
  if (windowWidth < 16 || windowHeight < 16 ||
      !cutWindow(image.pixels.get(), image.width, image.height, leaderRegion_.x, leaderRegion_.y,
                 windowWidth, windowHeight, &windowPixels_, &left, &top)) {
    return kNotRecognized;
  }
  auto enlarged =
      std::make_unique<GrayImage>(2 * windowWidth, 2 * windowHeight, GrayImage::Uninitialised{});
  enlargeDouble(windowPixels_.data(), windowWidth, windowHeight, enlarged->pixels.get());
  Frame frame;
  frame.buildPyramid(std::move(enlarged));
  HessianGradientFeatureMngr features(frame.levelCount());
  detectRecognitionCorners(frame, &features, options_.cornerBudget);
  for (int32_t level = 0; level < frame.levelCount(); ++level) {
    const GrayImage* levelImage = frame.getLevel(level);
    descriptor_->describeLevel(levelImage->width, levelImage->height, levelImage->pixels.get(),
                               level, &features);
  }
  // The window is doubled: so is a target's extent in it.
  std::vector<RecognitionCandidate> frameCandidates;
  frameCandidates.swap(candidates_);
  const int32_t status = matchFeatures(features, winner_, 2.0f * discRadius);
  if (status != kRecognized && candidates_.empty()) {
    // The whole frame's candidates stand where the window found none.
    candidates_.swap(frameCandidates);
    return status;
  }
  // Back from the doubled window to the frame (enlargeDouble's sampling).
  const auto toFrame = [left, top](VoteRegion* region) {
    region->x = (region->x - 0.5f) / 2.0f + left;
    region->y = (region->y - 0.5f) / 2.0f + top;
  };
  if (status == kRecognized) toFrame(&winnerRegion_);
  for (RecognitionCandidate& candidate : candidates_) toFrame(&candidate.region);
  return status;
}

int32_t Recognizer::matchFeatures(const HessianGradientFeatureMngr& features, std::string& winner,
                                  float discRadius) {
  const MappingTablePtr negative = database_ ? database_->getNegativeTable() : nullptr;
  const MappingTablePtr positive = database_ ? database_->getPositiveTable() : nullptr;

  // The tables hold a handful of names, so a flat list searched by content
  // beats a tree of copied strings; the names stay alive in the tables held
  // above. Order is settled only when the winner is picked.
  votes_.clear();
  voters_.clear();
  winnerRegion_ = VoteRegion();
  leaderRegion_ = VoteRegion();
  candidates_.clear();
  for (int32_t level = 0; level < features.levelCount(); ++level) {
    for (const HessianGradientFeaturePtr& feature : features.levelFeatures(level)) {
      GradientDescriptor::quantizeDescriptor(feature.get());
      feature->descriptorKey = descriptorKey(feature->descriptor.data());
      const MappingTablePtr& table = feature->polarity == 1 ? positive : negative;
      if (!table) continue;
      const NameList& names = table->names(feature->descriptorKey);
      for (const std::string& name : names) addVote(name);
      if (!names.empty()) {
        voters_.push_back(Voter{feature->x * feature->scale, feature->y * feature->scale, &names});
      }
      if (options_.nearKeySteps > 0) voteNearKeys(*feature, *table, names);
    }
  }

  if (discRadius > 0.0f) {
    for (Vote& vote : votes_) countDisc(&vote, discRadius);
  }
  if (options_.poseCandidates > 0) keepCandidates(discRadius);

  // Most votes; equal counts go to the name that sorts first byte-wise
  // (std::string compares its chars as unsigned bytes).
  const Vote* best = nullptr;
  for (const Vote& vote : votes_) {
    if (best == nullptr || vote.count > best->count ||
        (vote.count == best->count && vote.name->compare(*best->name) < 0)) {
      best = &vote;
    }
  }
  if (best == nullptr || best->count <= kMinimumVotesExclusive) {
    if (best != nullptr) leaderRegion_ = locate(*best, discRadius);
    votes_.clear();
    voters_.clear();
    return kNotRecognized;
  }
  winner = *best->name;
  winnerRegion_ = locate(*best, discRadius);
  votes_.clear();
  voters_.clear();
  return kRecognized;
}

void Recognizer::voteNearKeys(const HessianGradientFeature& feature, const MappingTable& table,
                              const NameList& voted) {
  int32_t keys[kMaxNearKeys];
  const int count = nearDescriptorKeys(feature.descriptor.data(), feature.descriptorKey,
                                       options_.nearKeySteps, keys);
  featureNames_.clear();
  for (const std::string& name : voted) featureNames_.push_back(&name);
  // One vote per name and feature, however many of its keys name it.
  for (int i = 0; i < count; ++i) {
    const NameList& names = table.names(keys[i]);
    for (const std::string& name : names) {
      bool seen = false;
      for (const std::string* other : featureNames_) seen = seen || *other == name;
      if (seen) continue;
      featureNames_.push_back(&name);
      addVote(name);
      voters_.push_back(Voter{feature.x * feature.scale, feature.y * feature.scale, &names, &name});
    }
  }
}

void Recognizer::setOptions(const RecognitionOptions& options) {
  options_.cornerBudget =
      std::clamp(options.cornerBudget, kMinRecognitionCorners, kMaxRecognitionCorners);
  options_.windowRetryVotes = std::clamp(options.windowRetryVotes, 0, kMinimumVotesExclusive);
  options_.voteDiscPercent = std::clamp(options.voteDiscPercent, 0, kMaxVoteDiscPercent);
  options_.poseCandidates = std::clamp(options.poseCandidates, 0, kMaxPoseCandidates);
  options_.nearKeySteps = std::clamp(options.nearKeySteps, 0, kMaxNearKeySteps);
  options_.candidateMinVotes =
      std::clamp(options.candidateMinVotes, kMinCandidateVotes, kMinimumVotesExclusive);
}

void Recognizer::keepCandidates(float discRadius) {
  std::vector<const Vote*> ranked;
  for (const Vote& vote : votes_) {
    if (vote.count >= options_.candidateMinVotes) ranked.push_back(&vote);
  }
  // The winner's order: most votes, then the name that sorts first.
  std::sort(ranked.begin(), ranked.end(), [](const Vote* a, const Vote* b) {
    return a->count != b->count ? a->count > b->count : a->name->compare(*b->name) < 0;
  });
  const size_t kept = std::min(ranked.size(), static_cast<size_t>(1 + options_.poseCandidates));
  for (size_t i = 0; i < kept; ++i) {
    candidates_.push_back(
        RecognitionCandidate{*ranked[i]->name, ranked[i]->count, locate(*ranked[i], discRadius)});
  }
}

void Recognizer::gatherVoters(const std::string& name) {
  voterXs_.clear();
  voterYs_.clear();
  for (const Voter& voter : voters_) {
    if (voter.only != nullptr
            ? *voter.only != name
            : std::find(voter.names->begin(), voter.names->end(), name) == voter.names->end()) {
      continue;
    }
    voterXs_.push_back(voter.x);
    voterYs_.push_back(voter.y);
  }
}

void Recognizer::countDisc(Vote* vote, float radius) {
  gatherVoters(*vote->name);
  vote->count = densestDisc(voterXs_.data(), voterYs_.data(), voterXs_.size(), radius, &vote->discX,
                            &vote->discY);
}

VoteRegion Recognizer::locate(const Vote& vote, float radius) {
  gatherVoters(*vote.name);
  if (radius > 0.0f) {
    // Only the disc's voters: the strays outside it are not the target's.
    const float r2 = radius * radius;
    size_t kept = 0;
    for (size_t i = 0; i < voterXs_.size(); ++i) {
      const float dx = voterXs_[i] - vote.discX;
      const float dy = voterYs_[i] - vote.discY;
      if (dx * dx + dy * dy > r2) continue;
      voterXs_[kept] = voterXs_[i];
      voterYs_[kept] = voterYs_[i];
      ++kept;
    }
    voterXs_.resize(kept);
    voterYs_.resize(kept);
  }
  VoteRegion region;
  if (voterXs_.empty()) return region;
  // The median: stray votes from the background are a minority of a
  // winner's, and must not drag the centre off the target.
  const size_t middle = voterXs_.size() / 2;
  std::nth_element(voterXs_.begin(), voterXs_.begin() + middle, voterXs_.end());
  std::nth_element(voterYs_.begin(), voterYs_.begin() + middle, voterYs_.end());
  region.voters = static_cast<int32_t>(voterXs_.size());
  region.x = voterXs_[middle];
  region.y = voterYs_[middle];
  return region;
}

void Recognizer::addVote(const std::string& name) {
  for (Vote& vote : votes_) {
    if (vote.name == &name || *vote.name == name) {
      ++vote.count;
      return;
    }
  }
  votes_.push_back(Vote{&name, 1, 0.0f, 0.0f});
}

}  // namespace vornik
