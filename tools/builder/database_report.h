#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/image_io.h"

namespace vornik {

class ArdbMngr;
class Recognizer;

// Bands of the fresh views --list judges a target on: frontal, small and
// steep (the first three of kBands).
constexpr int kFreshViewBands = 3;

// Recognition and initial pose of one target on camera views the builder
// never trained on.
struct FreshViewFigures {
  int frames[kFreshViewBands] = {};      // views of the band that fit the frame
  int recognised[kFreshViewBands] = {};  // the recognizer named this target
  int posed[kFreshViewBands] = {};       // and its initial pose lay within 5 px
  std::string problem;                   // why the target was not judged; empty when it was
};

// What --list shows for one target of a group file.
struct TargetReport {
  std::string targetName;
  std::string displayName;     // "TrackableName", empty when absent or unreadable
  float physicalWidth = 0.0f;  // headerValue of the descriptor entry
  int64_t datBytes = -1;       // entry sizes, -1 when the entry is missing
  int64_t trkBytes = -1;
  int64_t jpgBytes = -1;
  int64_t jsonBytes = -1;
  int32_t recognitionFeatures = 0;  // descriptor records
  int32_t recognitionKeys = 0;      // distinct (polarity, key) pairs among them
  int32_t trackingFeatures = 0;
  int32_t imageWidth = 0;  // from the tracking entry's header
  int32_t imageHeight = 0;
  double spread = 0.0;      // share of the 4 x 4 grid cells holding tracking features
  double repetition = 0.0;  // share of tracking features with a look-alike far away
  double contrast = -1.0;   // grey standard deviation of the stored image, -1 if unknown
  int32_t rating = 0;       // trackability 0 .. 5
  std::vector<std::string> warnings;
  std::vector<std::string> problems;  // entries missing or malformed
};

// Trackability rating and warnings from the measured figures of `report`
// (fills rating and warnings).
void rateTarget(TargetReport* report);

// Reads every target of the group file at `path`. False with a one-line
// reason when the file cannot be opened or its directory is malformed.
bool inspectDatabase(const std::string& path, std::vector<TargetReport>* reports,
                     std::string* error);

// The --list text of the reports.
void printDatabaseReport(const std::string& path, const std::vector<TargetReport>& reports,
                         std::FILE* out);

// Judges the targets of one group file, loaded as the library loads it, on
// handheld-camera views (bench-grade simulation: lens, shake, light, Bayer
// sensor, JPEG) of their stored images over a synthetic clutter scene. The
// views follow from fixed seeds, so the figures are the same on every run.
class FreshViewJudge {
 public:
  explicit FreshViewJudge(const std::string& groupPath);
  ~FreshViewJudge();
  FreshViewJudge(const FreshViewJudge&) = delete;
  FreshViewJudge& operator=(const FreshViewJudge&) = delete;

  // `viewsPerBand` views of each band, the same views for every target
  // (scaled to its shape).
  FreshViewFigures judge(const std::string& targetName, int viewsPerBand);

 private:
  std::string scratchDir_;  // the recognition tables' cache, removed again
  std::string problem_;     // why no target can be judged
  Image background_;
  std::shared_ptr<ArdbMngr> database_;
  std::unique_ptr<Recognizer> recognizer_;
};

// The heading of the fresh-view lines, then one line per target.
void printFreshViewHeader(int viewsPerBand, std::FILE* out);
void printFreshViewLine(const std::string& targetName, const FreshViewFigures& figures,
                        std::FILE* out);

}  // namespace vornik
