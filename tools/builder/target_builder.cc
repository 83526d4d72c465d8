#include "builder/target_builder.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include "builder/background_keys.h"
#include "builder/image_resample.h"
#include "builder/recognition_features.h"
#include "builder/recognition_training.h"
#include "builder/tracking_training.h"
#include "builder/training_renderer.h"
#include "builder/view_homography.h"
#include "common/synthetic_view.h"
#include "database/group_file_writer.h"
#include "database/jpeg_writer.h"
#include "features/feature_extractor.h"
#include "features/random.h"
#include "platform/clock.h"

namespace vornik {

namespace {

// Candidate corners kept per recognition level of the clean image.
constexpr int kCandidatesPerLevel = 150;
// Clutter photos behind the training views (made once per target).
constexpr int kClutterBackgrounds = 3;
constexpr double kMinWidthFraction = 0.15;
constexpr double kMaxWidthFraction = 1.0;
constexpr double kMaxTiltDeg = 60.0;
// Views of the mirrored target for the recognition training.
constexpr int kMirrorViews = 48;

struct TrainingView {
  ViewParams params;
  bool candidateView = false;  // clean: its tracking features become candidates
  int background = -1;         // clutter index, -1 for flat grey
  double blurSigma = 0.0;
  double noiseSigma = 0.0;
  double brightness = 0.0;
  double contrast = 1.0;
  uint32_t seed = 1;
};

double uniform(Random& random, double lo, double hi) {
  return lo + (hi - lo) * (random.next() / 4294967296.0);
}

// Clean views whose tracking features are the candidates: frontal at four
// distances, tilted by 40 degrees four ways, and close-ups of the quarters.
std::vector<TrainingView> candidateViews(bool small) {
  std::vector<TrainingView> views;
  if (small) {
    for (double fraction : {0.12, 0.17, 0.23}) {
      TrainingView v;
      v.params.widthFraction = fraction;
      v.candidateView = true;
      views.push_back(v);
    }
    for (double direction : {45.0, 135.0, 225.0, 315.0}) {
      TrainingView v;
      v.params.widthFraction = 0.4;
      v.params.tiltDeg = 25.0;
      v.params.tiltDirectionDeg = direction;
      v.candidateView = true;
      views.push_back(v);
    }
  }
  for (double fraction : {0.3, 0.45, 0.65, 0.9}) {
    TrainingView v;
    v.params.widthFraction = fraction;
    v.candidateView = true;
    views.push_back(v);
  }
  for (double direction : {0.0, 90.0, 180.0, 270.0}) {
    TrainingView v;
    v.params.widthFraction = 0.55;
    v.params.tiltDeg = 40.0;
    v.params.tiltDirectionDeg = direction;
    v.candidateView = true;
    views.push_back(v);
  }
  for (int quarter = 0; quarter < 4; ++quarter) {
    TrainingView v;
    v.params.widthFraction = 1.6;
    v.params.offsetX = (quarter % 2 == 0 ? 0.4 : -0.4);
    v.params.offsetY = (quarter < 2 ? 0.4 : -0.4);
    v.candidateView = true;
    views.push_back(v);
  }
  return views;
}

std::vector<TrainingView> randomViews(int count, uint32_t seed, double heightShare) {
  Random random(seed * 2654435761u + 12345u);
  std::vector<TrainingView> views;
  for (int i = 0; i < count; ++i) {
    TrainingView v;
    v.params.widthFraction =
        kMinWidthFraction * std::pow(kMaxWidthFraction / kMinWidthFraction, uniform(random, 0, 1));
    v.params.tiltDeg = uniform(random, 0.0, kMaxTiltDeg);
    v.params.tiltDirectionDeg = uniform(random, 0.0, 360.0);
    v.params.rotationDeg = uniform(random, -180.0, 180.0);
    const double freeX = std::max(0.0, 1.0 - v.params.widthFraction) * 0.5;
    const double freeY = std::max(0.0, 1.0 - v.params.widthFraction * heightShare) * 0.5;
    v.params.offsetX = uniform(random, -freeX, freeX);
    v.params.offsetY = uniform(random, -freeY, freeY);
    v.background = i % 2 == 0 ? static_cast<int>((i / 2) % kClutterBackgrounds) : -1;
    const double blur = uniform(random, 0.0, 1.5);
    v.blurSigma = blur < 0.3 ? 0.0 : blur;
    v.noiseSigma = uniform(random, 0.0, 6.0);
    v.brightness = uniform(random, -30.0, 30.0);
    v.contrast = uniform(random, 0.7, 1.2);
    v.seed = random.next() | 1u;
    views.push_back(v);
  }
  return views;
}

std::vector<uint8_t> encodeRecognition(float headerValue,
                                       const std::vector<RecognitionRecord>& records) {
  std::vector<HessianGradientFeaturePtr> features;
  for (const RecognitionRecord& r : records) {
    auto f = std::make_shared<HessianGradientFeature>();
    f->level = r.level;
    f->scale = static_cast<float>(recognitionLevelScale(r.level));
    f->polarity = r.polarity;
    f->x = r.x;
    f->y = r.y;
    f->descriptor = r.descriptor;
    f->descriptorKey = r.key;
    features.push_back(std::move(f));
  }
  std::vector<uint8_t> out;
  encodeDescriptorEntry(headerValue, features, out);
  return out;
}

std::vector<uint8_t> encodeTracking(int width, int height,
                                    const std::vector<TrackingRecord>& records) {
  std::vector<FeaturePtr> features;
  for (const TrackingRecord& r : records) {
    auto f = std::make_shared<Feature>();
    f->x = r.x;
    f->y = r.y;
    f->layer = r.layer;
    f->polarity = r.polarity;
    f->descriptor.reset(new uint8_t[kDescriptorBytes]);
    std::copy(r.descriptor.begin(), r.descriptor.end(), f->descriptor.get());
    features.push_back(std::move(f));
  }
  std::vector<uint8_t> out;
  encodeTrackingEntry(width, height, features, out);
  return out;
}

}  // namespace

bool loadInputImage(const std::string& path, Image* image, std::string* error) {
  if (!readImage(path, image, error)) return false;
  if (image->width < kMinImageSide || image->height < kMinImageSide) {
    *error = "image is " + std::to_string(image->width) + "x" + std::to_string(image->height) +
             ", smaller than " + std::to_string(kMinImageSide) + " pixels";
    return false;
  }
  if (image->width > kMaxImageSide || image->height > kMaxImageSide) {
    *error = "image is " + std::to_string(image->width) + "x" + std::to_string(image->height) +
             ", larger than " + std::to_string(kMaxImageSide) + " pixels";
    return false;
  }
  return true;
}

bool trainTarget(const TargetSpec& spec, const Image& image, const BuildOptions& options,
                 TrainedTarget* trained, std::string* error) {
  const int32_t start = processClockMs();
  if (options.workingSize < kMinImageSide || options.workingSize > kMaxWorkingSize) {
    *error = "working size must be between 100 and 4095 pixels";
    return false;
  }
  const Image working = normaliseTargetImage(image, options.workingSize);
  const Image grey = toGray(working);
  const int width = working.width;
  const int height = working.height;
  BuiltTarget* target = &trained->built;
  trained->physicalWidth = spec.physicalWidth;
  target->targetName = spec.targetName;
  TargetStats& stats = target->stats;
  stats = TargetStats();
  stats.imageWidth = width;
  stats.imageHeight = height;

  if (!encodeJpeg(working.pixels.data(), width, height, working.channels, options.jpegQuality,
                  target->imageEntry)) {
    *error = "cannot encode the target image as JPEG";
    return false;
  }
  target->infoEntry = makeInfoJson(spec.displayName);

  GradientDescriptor descriptor;
  std::vector<RecognitionRecord> candidates =
      levelRecognitionFeatures(grey, kCandidatesPerLevel, &descriptor);
  stats.recognitionCandidates = static_cast<int>(candidates.size());
  trained->recognition = std::make_unique<RecognitionTrainer>(width, height, candidates);
  RecognitionTrainer& recognition = *trained->recognition;
  TrackingTrainer tracking(width, height);

  std::vector<TrainingView> views = candidateViews(options.smallCandidateViews);
  const double heightShare =
      static_cast<double>(height) / width * options.frameWidth / options.frameHeight;
  const std::vector<TrainingView> extra =
      randomViews(options.trainingViews, options.seed, heightShare);
  views.insert(views.end(), extra.begin(), extra.end());

  std::vector<Image> clutter;
  if (options.trainingViews > 0) {
    for (int i = 0; i < kClutterBackgrounds; ++i) {
      clutter.push_back(toGray(makeClutter(options.frameWidth, options.frameHeight,
                                           options.seed * 7919u + static_cast<uint32_t>(i))));
    }
  }

  CameraModel camera;
  camera.width = options.frameWidth;
  camera.height = options.frameHeight;
  TrainingRenderer renderer(grey, camera.width, camera.height);
  FeatureExtractor extractor(camera.width, camera.height, 1);
  Image frame;
  std::vector<OrientationVariant> variants;
  const size_t trackingViews =
      views.size() - extra.size() +
      std::min<size_t>(extra.size(),
                       static_cast<size_t>(std::max(0, options.trackingTrainingViews)));
  for (size_t index = 0; index < views.size(); ++index) {
    const TrainingView& view = views[index];
    const PoseMatrix pose = poseFromView(view.params, camera);
    const Homography toFrame = targetToFrameHomography(pose, width, height, camera);
    Homography toTarget;
    if (!invertHomography(toFrame, &toTarget)) continue;
    TrainingEffects effects;
    effects.contrast = view.contrast;
    effects.brightness = view.brightness;
    effects.blurSigma = view.blurSigma;
    effects.noiseSigma = view.noiseSigma;
    effects.seed = view.seed;
    renderer.render(toTarget, view.background >= 0 ? &clutter[view.background] : nullptr, effects,
                    &frame);

    if (options.trainingViews > 0) {
      const std::vector<FrameRecognitionFeature> features = frameRecognitionFeatures(
          frame.pixels.data(), camera.width, camera.height, &descriptor,
          options.orientationVariants ? &variants : nullptr, options.recognitionCorners);
      recognition.addView(features, toTarget, toFrame,
                          options.orientationVariants ? &variants : nullptr);
    }
    if (index >= trackingViews) continue;
    std::shared_ptr<FeatureMngr> found = extractor.extract(frame.pixels.data());
    if (!found) continue;
    const std::vector<FeaturePtr> described = found->describe();
    if (view.candidateView) {
      tracking.addCandidates(described, toTarget);
    } else {
      tracking.addView(described, toTarget, toFrame);
    }
  }
  if (options.trainingViews > 0) {
    // The mirrored target, seen like the target, shows which of its keys
    // come from structures common to any picture of its kind.
    const Image mirrored = mirrorGreyImage(grey);
    TrainingRenderer mirrorRenderer(mirrored, camera.width, camera.height);
    for (const TrainingView& view : randomViews(kMirrorViews, options.seed + 0x6D1u, heightShare)) {
      const PoseMatrix pose = poseFromView(view.params, camera);
      Homography toTarget;
      if (!invertHomography(targetToFrameHomography(pose, width, height, camera), &toTarget))
        continue;
      TrainingEffects effects;
      effects.noiseSigma = view.noiseSigma;
      effects.seed = view.seed;
      mirrorRenderer.render(toTarget, view.background >= 0 ? &clutter[view.background] : nullptr,
                            effects, &frame);
      recognition.addMirrorView(frameRecognitionFeatures(frame.pixels.data(), camera.width,
                                                         camera.height, &descriptor, nullptr,
                                                         options.recognitionCorners));
    }
  }
  stats.trackingCandidates = static_cast<int>(tracking.candidateCount());

  if (options.trainingViews > 0) {
    stats.trackingRecall = tracking.recall();
  } else {
    trained->recognition.reset();
  }
  trained->candidates = std::move(candidates);
  const std::vector<TrackingRecord> trackingRecords = tracking.select(options.maxTrackingFeatures);
  stats.trackingRecords = static_cast<int>(trackingRecords.size());
  target->trackingEntry = encodeTracking(width, height, trackingRecords);
  if (target->trackingEntry.empty()) {
    *error = "cannot encode the tracking entry";
    return false;
  }
  stats.milliseconds = processClockMs() - start;
  return true;
}

bool finishTarget(TrainedTarget* trained, const BuildOptions& options,
                  const std::map<uint32_t, int32_t>* otherTargetViews, BuiltTarget* target,
                  std::string* error) {
  const int32_t start = processClockMs();
  *target = std::move(trained->built);
  TargetStats& stats = target->stats;
  std::vector<RecognitionRecord> stored;
  if (trained->recognition) {
    ForeignKeyEvidence foreign;
    foreign.background =
        &negativeSceneKeys(options.frameWidth, options.frameHeight, options.recognitionCorners);
    foreign.backgroundVoteBudget = options.backgroundVoteBudget;
    if (otherTargetViews != nullptr) foreign.otherTargetViews = *otherTargetViews;
    stored = trained->recognition->select(options.maxRecognitionKeys, &foreign);
    stats.recognitionRecall = trained->recognition->recall(stored);
  } else {
    stored = selectUntrainedRecognition(trained->candidates, options.maxRecognitionKeys);
  }
  stats.recognitionRecords = static_cast<int>(stored.size());
  target->descriptorEntry = encodeRecognition(trained->physicalWidth, stored);
  if (target->descriptorEntry.empty()) {
    *error = "cannot encode the descriptor entry";
    return false;
  }
  stats.milliseconds += processClockMs() - start;
  return true;
}

bool buildTarget(const TargetSpec& spec, const Image& image, const BuildOptions& options,
                 BuiltTarget* target, std::string* error) {
  TrainedTarget trained;
  return trainTarget(spec, image, options, &trained, error) &&
         finishTarget(&trained, options, nullptr, target, error);
}

}  // namespace vornik
