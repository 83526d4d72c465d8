#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "builder/recognition_training.h"
#include "builder/target_spec.h"
#include "common/image_io.h"
#include "features/corner_detection.h"

namespace vornik {

// Smallest and largest accepted input image side.
constexpr int kMinImageSide = 100;
constexpr int kMaxImageSide = 16384;
// The stored image's sides must fit 12 bits.
constexpr int kMaxWorkingSize = 4095;
constexpr int kDefaultWorkingSize = 640;

struct BuildOptions {
  int workingSize = kDefaultWorkingSize;  // longer side of the stored image
  int jpegQuality = 90;
  // Random training views per target; 0 keeps the candidates of the clean
  // image without training. Fresh camera views give many keys that few
  // training views saw: 640 views judge more of them, and fewer of the keys
  // chosen are chance ones that other targets and plain scenes also give.
  int trainingViews = 640;
  uint32_t seed = 1;
  int maxRecognitionKeys = 2000;  // descriptor records per target
  // Stray votes a target's keys may expect from one target-free frame. The
  // longer training judges keys more strictly, so it affords more of them.
  double backgroundVoteBudget = 1.8;
  int maxTrackingFeatures = 800;  // tracking records per target
  int frameWidth = 640;           // camera frame the training simulates
  int frameHeight = 480;
  // Random views that also score the tracking records (the first ones).
  // Scored on all 640 rather than 48, the records kept are those steep and
  // far views still match: more such views get an initial pose, for about
  // 2 s more per target on one core.
  int trackingTrainingViews = 640;
  // Also counts, per training view, the keys one orientation bin over
  // where that bin is nearly as strong: keys that nearby views give.
  bool orientationVariants = false;
  // Tracking candidates also from small (12-22 % of the frame) and gently
  // tilted views, where the pyramid's coarse layers see other corners.
  bool smallCandidateViews = false;
  // Recognition corners per training (and target-free) frame: the
  // recognizer's own budget, for databases meant for a recognizer that
  // keeps more corners (AcquisitionOptions::recognitionCorners).
  int recognitionCorners = kRecognitionCornerBudget;
};

// Figures of one built target.
struct TargetStats {
  int imageWidth = 0;  // stored image size
  int imageHeight = 0;
  int recognitionCandidates = 0;
  int recognitionRecords = 0;
  int trackingCandidates = 0;
  int trackingRecords = 0;
  // Share of the training views in which the stored keys collect more than 4
  // votes from the target alone; -1 without training.
  double recognitionRecall = -1.0;
  // Share of the training views with at least 17 correct mutual matches; -1
  // without training.
  double trackingRecall = -1.0;
  int32_t milliseconds = 0;
};

// The four entries of one target.
struct BuiltTarget {
  std::string targetName;
  std::vector<uint8_t> descriptorEntry;  // TARGET.dat
  std::vector<uint8_t> trackingEntry;    // TARGET.trk
  std::vector<uint8_t> imageEntry;       // TARGET.jpg
  std::string infoEntry;                 // TARGET.json
  TargetStats stats;
};

// Reads an input image (JPEG or PNG, grey or colour) and checks its size.
// False with a one-line reason (without the file name) on failure.
bool loadInputImage(const std::string& path, Image* image, std::string* error);

// A target after training, before its recognition records are chosen: that
// choice may weigh the keys of the other targets of a batch.
struct TrainedTarget {
  BuiltTarget built;  // everything but the descriptor entry
  float physicalWidth = 1.0f;
  std::vector<RecognitionRecord> candidates;        // clean-image features
  std::unique_ptr<RecognitionTrainer> recognition;  // null without training
};

// Normalises the image, encodes the image and information entries, trains
// and chooses the tracking records. False with a one-line reason.
bool trainTarget(const TargetSpec& spec, const Image& image, const BuildOptions& options,
                 TrainedTarget* trained, std::string* error);

// Chooses the recognition records, penalising keys that the other targets'
// training views produced (`otherTargetViews`, may be null), and encodes the
// descriptor entry into `target`.
bool finishTarget(TrainedTarget* trained, const BuildOptions& options,
                  const std::map<uint32_t, int32_t>* otherTargetViews, BuiltTarget* target,
                  std::string* error);

// Both steps for a target on its own. Deterministic: the same image, spec
// and options give the same bytes.
bool buildTarget(const TargetSpec& spec, const Image& image, const BuildOptions& options,
                 BuiltTarget* target, std::string* error);

}  // namespace vornik
