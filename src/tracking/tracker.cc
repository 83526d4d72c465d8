#include "tracking/tracker.h"

#include <cJSON.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "features/affine_warp.h"
#include "features/corner_detection.h"
#include "features/enlarge.h"
#include "manager/profiler.h"
#include "platform/clock.h"
#include "tracking/initial_pose.h"
#include "tracking/pose_agreement.h"
#include "tracking/se3.h"

namespace vornik {
namespace {

constexpr float kVelocityBlend = 0.5f;
constexpr float kVelocityDecay = 0.9f;
// A keyframe-tracked frame is kept as the next reference only when its mean
// squared reprojection error (pixels squared) is below this.
constexpr float kMaxReferenceError = 2.0f;
// Pixel format code of one luminance byte per pixel.
constexpr int32_t kGrayFrame = 1;
// Frames wider than this are not doubled for the initial pose's retry: a
// target a few tenths of their width wide already spans enough pixels, and
// the doubled frame's integral image would take tens of megabytes.
constexpr int32_t kMaxEnlargedSourceWidth = 1280;

// The camera pixel that pixel (x, y) of the frame squeezed by `squeeze`
// along `directionDeg` about its centre shows: the squeezed image keeps the
// frame's size, the squeeze's inverse spreads it back.
FrameWindow squeezedFrame(int32_t width, int32_t height, double directionDeg, double squeeze) {
  const double a = directionDeg * 3.14159265358979323846 / 180.0;
  const double c = std::cos(a);
  const double s = std::sin(a);
  // R(a) diag(squeeze, 1) R(-a)
  const double m00 = squeeze * c * c + s * s;
  const double m01 = (squeeze - 1.0) * c * s;
  const double m11 = squeeze * s * s + c * c;
  const double cx = 0.5 * (width - 1);
  const double cy = 0.5 * (height - 1);
  FrameWindow window;
  window.warped = true;
  window.affine[0] = m00;
  window.affine[1] = m01;
  window.affine[2] = cx - m00 * cx - m01 * cy;
  window.affine[3] = m01;
  window.affine[4] = m11;
  window.affine[5] = cy - m01 * cx - m11 * cy;
  return window;
}

}  // namespace

bool extractTargetId(const std::string& recognition, std::string* id) {
  const size_t key = recognition.find("\"id\"");
  if (key == std::string::npos) return false;
  const size_t colon = recognition.find(':', key + 4);
  if (colon == std::string::npos) return false;
  const size_t open = recognition.find('"', colon + 1);
  if (open == std::string::npos) return false;
  const size_t close = recognition.find('"', open + 1);
  if (close == std::string::npos || close == open + 1) return false;
  *id = recognition.substr(open + 1, close - open - 1);
  return true;
}

Mat44f predictPose(const SixVector& velocity, const Mat44f& pose) {
  return se3Exp(velocity) * pose;
}

SixVector updateVelocity(const SixVector& velocity, const Mat44f& oldPose, const Mat44f& newPose) {
  const SixVector delta = se3Ln(newPose * rigidInverse(oldPose));
  SixVector next;
  for (int i = 0; i < 6; ++i) {
    next[i] = (velocity[i] * kVelocityBlend + delta[i] * kVelocityBlend) * kVelocityDecay;
  }
  return next;
}

Tracker::Tracker() = default;
Tracker::~Tracker() = default;

int32_t Tracker::init(int32_t width, int32_t height, int32_t pixelFormat,
                      std::shared_ptr<ArdbMngr> database) {
  database_ = std::move(database);
  if (pixelFormat != 0 && pixelFormat != 1) return kTrackBadPixelFormat;
  loadedTargetId_.clear();
  keyframeTargetId_.clear();
  // The database may have been loaded again since the keyframe was built.
  keyframeImageId_.clear();
  keyframes_.clear();
  featureExtractor_ = std::make_shared<FeatureExtractor>(width, height, pixelFormat);
  enlargedExtractor_.reset();
  windowExtractor_.reset();
  tiltExtractor_.reset();
  voteRegion_ = VoteRegion();
  pixelFormat_ = pixelFormat;
  nameCache_.clear();
  return kTrackOk;
}

int32_t Tracker::track(const uint8_t* pixels, Trackable& result, std::string /*hint*/,
                       std::string recognition) {
  std::string id;
  // Nothing to track without an identifier, a frame or an init.
  if (!extractTargetId(recognition, &id) || pixels == nullptr || !featureExtractor_ || !database_) {
    return kTrackFailed;
  }
  if (id != loadedTargetId_) loadTrackingData(id);
  if (id != keyframeTargetId_) return trackInitialPose(pixels, result, id);
  return trackProgressive(pixels, result, id);
}

int32_t Tracker::trackCandidates(const uint8_t* pixels, Trackable& result,
                                 const std::vector<RecognitionCandidate>& candidates,
                                 size_t* posed) {
  if (pixels == nullptr || !featureExtractor_ || !database_) return kTrackFailed;
  int32_t code = kTrackFailed;
  sameFrame_ = false;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const RecognitionCandidate& candidate = candidates[i];
    if (candidate.name.empty()) continue;
    if (candidate.name != loadedTargetId_) loadTrackingData(candidate.name);
    voteRegion_ = candidate.region;
    code = trackInitialPose(pixels, result, candidate.name);
    sameFrame_ = true;
    if (code == kTrackOk) {
      if (posed != nullptr) *posed = i;
      break;
    }
  }
  sameFrame_ = false;
  return code == kTrackOk ? kTrackOk : kTrackFailed;
}

void Tracker::loadTrackingData(const std::string& id) {
  const int32_t start = processClockMs();
  targetFeatures_.clear();
  database_->loadTargetFeatures(targetFeatures_, targetWidth_, targetHeight_, id);
  loadedTargetId_ = id;
  std::printf("When (OrgImgId != ImgId) time: %d ms\n", processClockMs() - start);
}

int32_t Tracker::trackInitialPose(const uint8_t* pixels, Trackable& result, const std::string& id) {
  startTimer(kTimerInitPoseTotal);
  const std::vector<FeaturePtr>* kept = keptFeatures(kWholeFrame, FrameWindow{});
  // The frame's pyramid serves every target tried on it.
  if (!sameFrame_) confirmFrameBuilt_ = false;
  confirmBuildCode_ = kDbOk;
  // With the second look on, a pose that agrees less than its bar lets the
  // later images be tried too, and the best-agreeing pose of all is kept:
  // the whole frame often poses a small target a few pixels off where its
  // enlarged window poses it right.
  const float secondLook = initialPoseOptions_.secondLookAgreement;
  bool found = false;
  float bestAgreement = 0.0f;
  Mat44f bestPose;
  MatrixPtr bestMatrix;
  const auto consider = [&](int32_t c) {
    if (c == kInitialPoseOk && confirming() && (!found || confirmedAgreement_ > bestAgreement)) {
      found = true;
      bestAgreement = confirmedAgreement_;
      bestPose = confirmedPose_;
      bestMatrix = confirmedMatrix_;
    }
    return c;
  };
  int32_t code = kTrackFailed;
  const auto settled = [&]() {
    if (!confirming() || secondLook <= 0.0f) return code == kInitialPoseOk;
    return found && bestAgreement >= secondLook;
  };
  code = consider(kept != nullptr ? estimateFromFeatures(*kept, FrameWindow{}, pixels, id)
                                  : estimateOnImage(featureExtractor_.get(), pixels, FrameWindow{},
                                                    kWholeFrame, pixels, id));
  if (!settled() && initialPoseOptions_.voteWindowEnlargement > 1) {
    // The quarter window first: it suits a target a tenth of the frame wide,
    // and the half window then takes those too wide for it.
    if (initialPoseOptions_.voteWindowEnlargement >= 4) {
      code = consider(estimateAroundVotes(pixels, 4, id));
    }
    if (!settled()) code = consider(estimateAroundVotes(pixels, 2, id));
  }
  if (!settled() && initialPoseOptions_.retryEnlarged) {
    code = consider(estimateOnEnlargedFrame(pixels, id));
  }
  if (!settled() && initialPoseOptions_.tiltViews) {
    code = consider(estimateOnTiltedFrames(pixels, id));
  }
  if (found) {
    code = kInitialPoseOk;
    confirmedPose_ = bestPose;
    confirmedMatrix_ = bestMatrix;
  }
  stopTimer(kTimerInitPoseTotal);
  if (code != kInitialPoseOk) {
    std::printf("### Fail to initial pose estimation\n");
    return confirmBuildCode_ != kDbOk ? confirmBuildCode_ : kTrackFailed;
  }

  keyframeTargetId_ = id;
  // Re-acquiring the target of the keyframe in place: the keyframe is what
  // decoding and building would give again, so both are skipped.
  if (id != keyframeImageId_ || keyframes_.empty()) {
    const int32_t built = buildKeyframe(id);
    if (built != kDbOk) return built;
  }
  if (previousFrame_) spareFrame_ = std::move(previousFrame_);

  velocity_ = SixVector();
  if (confirming()) {
    pose_ = confirmedPose_;
    poseMatrix_ = confirmedMatrix_;
  } else {
    pose_ = se3Exp(se3Ln(toMat44f(*poseMatrix_)));
    if (initialPoseOptions_.refine) refineInitialPose(pixels);
  }
  fillResult(result, poseMatrix_, id);
  return kTrackOk;
}

int32_t Tracker::confirmPose(int32_t code, const uint8_t* pixels, const std::string& id) {
  if (code != kInitialPoseOk || !confirming()) return code;
  float agreement = 0.0f;
  Mat44f pose;
  MatrixPtr matrix;
  if (!scorePose(pixels, id, &agreement, &pose, &matrix)) return kTrackFailed;
  if (agreement < initialPoseOptions_.minAgreement) {
    std::printf("### Initial pose refused: agreement %.2f\n", agreement);
    return kTrackFailed;
  }
  confirmedPose_ = pose;
  confirmedMatrix_ = matrix;
  confirmedAgreement_ = agreement;
  return kInitialPoseOk;
}

bool Tracker::scorePose(const uint8_t* pixels, const std::string& id, float* agreement,
                        Mat44f* refined, MatrixPtr* matrix) {
  if (id != keyframeImageId_ || keyframes_.empty()) {
    // The keyframe in place is about to belong to another target.
    keyframeTargetId_.clear();
    confirmBuildCode_ = buildKeyframe(id);
    if (confirmBuildCode_ != kDbOk) return false;
  }
  if (!confirmFrame_) confirmFrame_ = std::make_unique<Frame>();
  if (!confirmFrameBuilt_) {
    confirmFrame_->buildPyramid(pixels, featureExtractor_->width(), featureExtractor_->height(),
                                pixelFormat_ == 0);
    confirmFrameBuilt_ = true;
  }
  Mat44f pose = se3Exp(se3Ln(toMat44f(*poseMatrix_)));
  // As without the check: where the search fails, the homography's pose
  // stays as it was decomposed.
  *matrix = poseMatrix_;
  if (initialPoseOptions_.refine) {
    if (refineOnFrame(*confirmFrame_, &pose)) *matrix = fromMat44f(pose);
  }
  *agreement = poseAgreement(*keyframes_.front(), *confirmFrame_, pose);
  *refined = pose;
  return true;
}

const std::vector<FeaturePtr>* Tracker::keptFeatures(DescribedSlot slot,
                                                     const FrameWindow& window) const {
  const DescribedImage& kept = described_[slot];
  if (!sameFrame_ || !kept.valid || kept.window.enlargement != window.enlargement ||
      kept.window.left != window.left || kept.window.top != window.top ||
      kept.window.warped != window.warped ||
      !std::equal(kept.window.affine, kept.window.affine + 6, window.affine)) {
    return nullptr;
  }
  return &kept.features;
}

int32_t Tracker::estimateOnEnlargedFrame(const uint8_t* pixels, const std::string& id) {
  const int32_t width = featureExtractor_->width();
  const int32_t height = featureExtractor_->height();
  if (width < 1 || height < 1 || width > kMaxEnlargedSourceWidth) return kTrackFailed;
  const FrameWindow window{2, 0, 0};
  const std::vector<FeaturePtr>* kept = keptFeatures(kDoubledFrame, window);
  if (kept != nullptr) return estimateFromFeatures(*kept, window, pixels, id);
  const GrayImage gray(width, height, pixels, pixelFormat_ == 0);
  enlargedPixels_.resize(static_cast<size_t>(width) * height * 4);
  enlargeDouble(gray.pixels.get(), width, height, enlargedPixels_.data());
  if (!enlargedExtractor_) {
    enlargedExtractor_ = std::make_shared<FeatureExtractor>(2 * width, 2 * height, kGrayFrame);
  }
  return estimateOnImage(enlargedExtractor_.get(), enlargedPixels_.data(), window, kDoubledFrame,
                         pixels, id);
}

int32_t Tracker::estimateOnTiltedFrames(const uint8_t* pixels, const std::string& id) {
  const int32_t width = featureExtractor_->width();
  const int32_t height = featureExtractor_->height();
  if (width < 1 || height < 1) return kTrackFailed;
  if (!tiltExtractor_ || tiltExtractor_->width() != width || tiltExtractor_->height() != height) {
    tiltExtractor_ = std::make_shared<FeatureExtractor>(width, height, kGrayFrame);
  }
  std::unique_ptr<GrayImage> gray;
  int32_t code = kTrackFailed;
  for (int32_t d = 0; d < kTiltViewDirections && code != kInitialPoseOk; ++d) {
    const FrameWindow window =
        squeezedFrame(width, height, 180.0 * d / kTiltViewDirections, kTiltViewSqueeze);
    const DescribedSlot slot = static_cast<DescribedSlot>(kTiltedFrames + d);
    const std::vector<FeaturePtr>* kept = keptFeatures(slot, window);
    if (kept != nullptr) {
      code = estimateFromFeatures(*kept, window, pixels, id);
      continue;
    }
    if (!gray) gray = std::make_unique<GrayImage>(width, height, pixels, pixelFormat_ == 0);
    tiltPixels_.resize(static_cast<size_t>(width) * height);
    warpAffineGray(gray->pixels.get(), width, height, window.affine, width, height,
                   tiltPixels_.data());
    code = estimateOnImage(tiltExtractor_.get(), tiltPixels_.data(), window, slot, pixels, id);
  }
  return code;
}

int32_t Tracker::estimateOnImage(FeatureExtractor* extractor, const uint8_t* image,
                                 const FrameWindow& window, DescribedSlot slot,
                                 const uint8_t* pixels, const std::string& id) {
  DescribedImage& kept = described_[slot];
  kept.valid = false;
  std::shared_ptr<FeatureMngr> features = extractor->extract(image);
  if (!features) return kTrackFailed;
  startTimer(kTimerInitPoseDescription);
  kept.features = features->describe(initialPoseOptions_.featuresPerLayer);
  stopTimer(kTimerInitPoseDescription);
  kept.window = window;
  kept.valid = true;
  return estimateFromFeatures(kept.features, window, pixels, id);
}

int32_t Tracker::estimateFromFeatures(const std::vector<FeaturePtr>& features,
                                      const FrameWindow& window, const uint8_t* pixels,
                                      const std::string& id) {
  // A refused pose leaves its consensus out of the next try on the same
  // matches: a wrong consensus (repeated texture, a chance one) can outvote
  // the right one, which the pairs left then show.
  std::vector<uint8_t>* spent =
      initialPoseOptions_.consensusRetries > 0 && confirming() ? &spentPairs_ : nullptr;
  spentPairs_.clear();
  if (initialPoseOptions_.rigidFit && confirming()) {
    return bestOfConsensuses(features, window, pixels, id, spent);
  }
  int32_t code = kTrackFailed;
  for (int32_t attempt = 0; attempt <= initialPoseOptions_.consensusRetries; ++attempt) {
    MatrixPtr fitted;
    code = estimateConsensus(features, window, spent,
                             initialPoseOptions_.rigidFit ? &fitted : nullptr);
    if (code != kInitialPoseOk) return code;
    if (fitted) poseMatrix_ = fitted;
    code = confirmPose(code, pixels, id);
    if (code == kInitialPoseOk || confirmBuildCode_ != kDbOk) return code;
  }
  return code;
}

int32_t Tracker::estimateConsensus(const std::vector<FeaturePtr>& features,
                                   const FrameWindow& window, std::vector<uint8_t>* spent,
                                   MatrixPtr* fitted) {
  return estimateInitialPose(targetFeatures_, targetWidth_, features, featureExtractor_->width(),
                             featureExtractor_->height(), random_, &poseMatrix_,
                             initialPoseOptions_.ransacRescueIterations, window,
                             initialPoseOptions_.minMatches, spent, fitted);
}

int32_t Tracker::bestOfConsensuses(const std::vector<FeaturePtr>& features,
                                   const FrameWindow& window, const uint8_t* pixels,
                                   const std::string& id, std::vector<uint8_t>* spent) {
  // Taking the first pose that passes, in either order of the decomposed
  // and the fitted one, lets wrong poses through: a consensus on part of a
  // large target fits a pose plausible enough to pass the check, and a later
  // consensus of the same matches can pass it while tens of pixels off. The
  // best agreement of all of them wins. (Stopping at the first pose above
  // 0.8 saved 4 ms a recognised frame and lost a few small targets.)
  bool scored = false;
  float best = 0.0f;
  int32_t code = kTrackFailed;
  for (int32_t attempt = 0; attempt <= initialPoseOptions_.consensusRetries; ++attempt) {
    MatrixPtr fitted;
    code = estimateConsensus(features, window, spent, &fitted);
    if (code != kInitialPoseOk) break;
    const MatrixPtr starts[2] = {poseMatrix_, fitted};
    for (const MatrixPtr& start : starts) {
      if (!start) continue;
      poseMatrix_ = start;
      float agreement = 0.0f;
      Mat44f pose;
      MatrixPtr matrix;
      if (!scorePose(pixels, id, &agreement, &pose, &matrix)) return kTrackFailed;
      if (!scored || agreement > best) {
        scored = true;
        best = agreement;
        confirmedPose_ = pose;
        confirmedMatrix_ = matrix;
      }
    }
  }
  if (!scored) return code;
  if (best >= initialPoseOptions_.minAgreement) {
    confirmedAgreement_ = best;
    return kInitialPoseOk;
  }
  std::printf("### Initial pose refused: agreement %.2f\n", best);
  return kTrackFailed;
}

int32_t Tracker::estimateAroundVotes(const uint8_t* pixels, int32_t enlargement,
                                     const std::string& id) {
  const int32_t width = featureExtractor_->width();
  const int32_t height = featureExtractor_->height();
  const int32_t windowWidth = width / enlargement;
  const int32_t windowHeight = height / enlargement;
  if (voteRegion_.voters <= 0 || windowWidth < 16 || windowHeight < 16) return kTrackFailed;
  const GrayImage gray(width, height, pixels, pixelFormat_ == 0);
  int32_t left = 0;
  int32_t top = 0;
  if (!cutWindow(gray.pixels.get(), width, height, voteRegion_.x, voteRegion_.y, windowWidth,
                 windowHeight, &windowPixels_, &left, &top)) {
    return kTrackFailed;
  }
  const FrameWindow window{enlargement, left, top};
  const DescribedSlot slot = enlargement == 4 ? kQuarterWindow : kHalfWindow;
  const std::vector<FeaturePtr>* kept = keptFeatures(slot, window);
  if (kept != nullptr) return estimateFromFeatures(*kept, window, pixels, id);
  windowDoubled_.resize(windowPixels_.size() * 4);
  enlargeDouble(windowPixels_.data(), windowWidth, windowHeight, windowDoubled_.data());
  const uint8_t* enlarged = windowDoubled_.data();
  if (enlargement == 4) {
    windowEnlarged_.resize(windowDoubled_.size() * 4);
    enlargeDouble(windowDoubled_.data(), 2 * windowWidth, 2 * windowHeight, windowEnlarged_.data());
    enlarged = windowEnlarged_.data();
  }
  const int32_t enlargedWidth = windowWidth * enlargement;
  const int32_t enlargedHeight = windowHeight * enlargement;
  if (!windowExtractor_ || windowExtractor_->width() != enlargedWidth ||
      windowExtractor_->height() != enlargedHeight) {
    windowExtractor_ =
        std::make_shared<FeatureExtractor>(enlargedWidth, enlargedHeight, kGrayFrame);
  }
  return estimateOnImage(windowExtractor_.get(), enlarged, window, slot, pixels, id);
}

int32_t Tracker::buildKeyframe(const std::string& id) {
  uint8_t* image = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t grey = 0;
  const int32_t loaded = database_->loadTargetImage(image, width, height, grey, id);
  if (loaded != kDbOk) {
    delete[] image;
    // The keyframe in place belongs to another target: do not track against it.
    keyframeTargetId_.clear();
    return loaded;
  }
  auto gray = std::make_unique<GrayImage>(width, height, image, grey == 0);
  delete[] image;

  keyframes_.clear();
  auto keyframe = std::make_unique<Keyframe>();
  keyframe->buildPyramid(std::move(gray));
  detectTrackingCorners(keyframe.get());
  keyframe->buildTrackPoints();
  keyframes_.push_back(std::move(keyframe));
  keyframeImageId_ = id;
  return kDbOk;
}

bool Tracker::refineInitialPose(const uint8_t* pixels) {
  if (!spareFrame_) spareFrame_ = std::make_unique<Frame>();
  Frame& frame = *spareFrame_;
  frame.buildPyramid(pixels, featureExtractor_->width(), featureExtractor_->height(),
                     pixelFormat_ == 0);
  // Refusing the pose when the search fails lost right poses of small
  // targets and refused no wrong one: the homography's pose stays then.
  if (!refineOnFrame(frame, &pose_)) return false;
  poseMatrix_ = fromMat44f(pose_);
  return true;
}

bool Tracker::refineOnFrame(const Frame& frame, Mat44f* pose) {
  // A small target's homography pose is often 5-15 px off, more than one
  // search closes: its coarse points are few, so the first pass lands a few
  // pixels short and the next ones finish from there.
  bool refinedOnce = false;
  for (int32_t pass = 0; pass < kInitialPoseRefinePasses; ++pass) {
    Mat44f refined = *pose;
    float error = 0.0f;
    if (!trackFromKeyframe(frame, *pose, &refined, &error)) break;
    *pose = refined;
    refinedOnce = true;
  }
  return refinedOnce;
}

int32_t Tracker::trackProgressive(const uint8_t* pixels, Trackable& result, const std::string& id) {
  if (keyframes_.empty()) return kTrackFailed;
  startTimer(kTimerTotal);
  startTimer(kTimerPreprocessing);
  std::unique_ptr<Frame> frame = spareFrame_ ? std::move(spareFrame_) : std::make_unique<Frame>();
  frame->buildPyramid(pixels, featureExtractor_->width(), featureExtractor_->height(),
                      pixelFormat_ == 0);
  stopTimer(kTimerPreprocessing);
  startTimer(kTimerTracking);

  const Mat44f predicted = predictPose(velocity_, pose_);
  Mat44f newPose = predicted;
  float error = 0.0f;
  bool success = false;
  if (!previousFrame_) {
    success = trackFromKeyframe(*frame, predicted, &newPose, &error);
    if (success && error < kMaxReferenceError) previousFrame_ = std::move(frame);
  } else {
    success = trackFromPreviousFrame(*frame, predicted, &newPose, &error);
    spareFrame_ = std::move(previousFrame_);
    if (success) previousFrame_ = std::move(frame);
  }
  if (frame) spareFrame_ = std::move(frame);

  stopTimer(kTimerTracking);
  stopTimer(kTimerTotal);
  printTimer(kTimerTotal);
  printTimer(kTimerPreprocessing);
  printTimer(kTimerTracking);

  if (success) {
    velocity_ = updateVelocity(velocity_, pose_, newPose);
    pose_ = newPose;
  }
  poseMatrix_ = fromMat44f(pose_);
  if (!success) std::printf("### Fail to progressive pose estimation\n");
  fillResult(result, poseMatrix_, id);
  return success ? kTrackOk : kTrackFailed;
}

bool Tracker::trackFromKeyframe(const Frame& frame, const Mat44f& predictedPose, Mat44f* pose,
                                float* error) {
  return progressive_.trackFromKeyframe(*keyframes_.front(), frame, predictedPose, pose, error);
}

bool Tracker::trackFromPreviousFrame(const Frame& frame, const Mat44f& predictedPose, Mat44f* pose,
                                     float* error) {
  return progressive_.trackFromPreviousFrame(*keyframes_.front(), *previousFrame_, pose_, frame,
                                             predictedPose, pose, error);
}

void Tracker::fillResult(Trackable& result, const MatrixPtr& pose, const std::string& id) {
  if (!pose || pose->rows() != 4 || pose->cols() != 4) return;
  const Matrix& p = *pose;
  float* out = result.pose();
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) out[4 * c + r] = static_cast<float>(p(r, c));
  }
  const float width = static_cast<float>(targetWidth_);
  for (int i = 12; i < 15; ++i) out[i] *= width;
  result.setWidth(width);
  result.setHeight(static_cast<float>(targetHeight_));
  result.setId(id);

  auto cached = nameCache_.find(id);
  if (cached != nameCache_.end()) {
    result.setName(cached->second);
  } else {
    char* buffer = nullptr;
    if (database_) database_->loadTargetInfo(buffer, id);
    cJSON* document = buffer != nullptr ? cJSON_Parse(buffer) : nullptr;
    delete[] buffer;
    if (document == nullptr) return;
    const cJSON* name = cJSON_GetObjectItem(document, "TrackableName");
    // A document without a text name leaves the name as it is.
    if (cJSON_IsString(name) && name->valuestring != nullptr) {
      nameCache_[id] = name->valuestring;
      result.setName(name->valuestring);
    }
    cJSON_Delete(document);
  }

  float headerValue = 1.0f;
  if (database_) {
    const auto& values = database_->headerValues();
    auto it = values.find(id);
    if (it != values.end()) headerValue = it->second;
  }
  result.setDistance(static_cast<float>(headerValue * p(2, 3)));
}

}  // namespace vornik
