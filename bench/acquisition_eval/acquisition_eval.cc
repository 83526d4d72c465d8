// Acquisition evaluation: how often the library recognises and poses its
// targets on realistic camera frames (lens, shake, light, Bayer sensor,
// JPEG; tools/common/camera_simulation.h) that the database builder never
// trained on, beside the pipeline a user would write instead with OpenCV
// (ORB-500, brute-force Hamming 2-NN with ratio 0.8, RANSAC homography at
// 3 px), both measured on the same frames in the same run.
//
//   acquisition_eval [--quick] [--views N] [--free M] [--folds K] [--threads T]
//                    [--csv FILE] [--plot FILE] [--seed S]
//                    [--training-views N] [--budget VOTES] [--max-keys N]
//                    [--tracking-views N] [--max-tracking N] [--variants]
//                    [--small-candidates] [--second-look PERCENT]
//                    [--pose-features N] [--refine] [--attempts N]
//                    [--rescue N] [--enlarged] [--vote-window N] [--corners N]
//                    [--recognition-window VOTES] [--vote-disc PERCENT]
//                    [--candidates N] [--candidate-votes N]
//                    [--agreement PERCENT] [--min-matches N]
//                    [--near-keys STEPS] [--train-corners N] [--pose-retries N]
//                    [--level-range N] [--keyframe-fine-below N] [--tilt-views]
//                    [--same-frame] [--rigid-fit]
//
// Each of the 11 bundled photos is trained once as a target. Fold k holds a
// database of the other 10 (recognition keys chosen against the other 9)
// and shows them in front of photo k, the only background of the fold, so
// no frame shows a background the database contains. Per target and fold,
// N views (default 2) are drawn in each of four bands (frontal, small,
// steep, far); M target-free frames (default 20) of photo k alone count
// false positives. Per target frame:
//   - recognition: the target the recognizer names (right, wrong, none);
//   - posed: recognition and initial pose on that frame, as the still-image
//     test mode 1 runs them, within 5 px at every corner;
//   - acquired: the same still view shot up to three times (fresh sensor
//     noise) through the live thread's stage machine, a pose within 5 px;
//   - the baseline's named target and its homography's corner error.
// --quick runs 3 folds, 1 view per band and 5 target-free frames. --seed
// sets the builder's seed and the frames' (default 1); --training-views,
// --budget, --max-keys, --tracking-views and --max-tracking set the
// builder's options of those names; --variants and --small-candidates
// switch on its orientationVariants and smallCandidateViews levers; --pose-features sets
// the trackers' opt-in frame features per layer for the initial pose,
// --refine their refined and confirmed initial pose, --attempts the stage
// machine's Acquiring frames per recognition (the library's
// setAcquisitionOptions), --rescue, --enlarged and --vote-window their
// initial pose's rescue samples and retries, --corners the recognizer's
// corners per frame, --recognition-window its second look (the library's
// recognitionWindowVotes), --vote-disc its votes counted within a disc
// (recognitionVoteDisc), --candidates the runner-up targets its initial
// pose tries (recognitionPoseCandidates), --candidate-votes the votes each
// needs (recognitionCandidateVotes), --agreement the agreement with
// the frame each initial pose needs (initialPoseAgreement), --min-matches
// the matches it needs (initialPoseMinMatches), --near-keys the
// recognizer's near keys (recognitionNearKeySteps) and
// --train-corners the builder's (its recognitionCorners), --pose-retries
// the consensus retries of a refused pose (initialPoseConsensusRetries),
// --level-range and --keyframe-fine-below the trackers' keyframeLevelRange
// and keyframeFineBelowInliers (setTrackingOptions), which the refinement
// of the initial pose and the live thread's tracking both use,
// --tilt-views the initial pose's squeezed frames (InitialPoseOptions::
// tiltViews), --same-frame the live thread's initial pose on the frame it
// recognised (the library's acquireOnRecognisedFrame), --rigid-fit the
// initial pose's rigid fit to its homography (InitialPoseOptions::rigidFit),
// --second-look P its later images below an agreement of P % (InitialPose-
// Options::secondLookAgreement). The frames are split over T worker threads (default 2); the figures do not
// depend on T. Writes one CSV row per frame (--csv, default
// acquisition_eval.csv) and a bar plot of the posed shares
// (--plot, default acquisition_eval.png).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <opencv2/core/utility.hpp>

#include "acquisition_frames.h"
#include "builder/database_builder.h"
#include "builder/target_builder.h"
#include "common/image_io.h"
#include "database/ardb_mngr.h"
#include "manager/frame_stepper.h"
#include "manager/tracking_engines.h"
#include "orb_baseline.h"
#include "quiet_stdout.h"
#include "recognition/recognizer.h"
#include "tracking/homography.h"
#include "tracking/tracker.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;
constexpr int kQuickFolds = 3;

struct Options {
  BuildOptions build;
  InitialPoseOptions pose;         // the trackers' opt-ins
  RecognitionOptions recognition;  // the recognizer's
  TrackingOptions tracking;        // the trackers' steady-state opt-ins
  int acquiringAttempts = FrameStepper::kAcquiringFailureLimit;
  bool acquireOnRecognisedFrame = false;
  int views = 2;
  int freeFrames = 20;
  int folds = 0;  // 0: one per photo
  int threads = 2;
  std::string csvPath = "acquisition_eval.csv";
  std::string plotPath = "acquisition_eval.png";
  uint32_t seed = 1;
};

struct Photo {
  std::string name;
  Image image;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double nowMsSince(std::chrono::steady_clock::time_point start) { return 1e3 * secondsSince(start); }

bool loadPhotos(std::vector<Photo>* photos) {
  const fs::path dir = fs::path(VORNIK_DATA_DIR) / "photos";
  std::vector<fs::path> paths;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().extension() == ".jpg") paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  for (const fs::path& path : paths) {
    Photo photo;
    photo.name = path.stem().string();
    std::string error;
    if (!readImage(path.string(), &photo.image, &error)) {
      std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), error.c_str());
      return false;
    }
    photos->push_back(std::move(photo));
  }
  if (photos->size() < 3) {
    std::fprintf(stderr, "need at least 3 photos in %s, found %zu\n", dir.c_str(), photos->size());
    return false;
  }
  return true;
}

// Trains every photo once, on up to two threads; `ms` gets each target's
// wall time. The recognition keys are chosen per fold afterwards.
bool trainAll(const std::vector<Photo>& photos, const BuildOptions& build,
              std::vector<TrainedTarget>* trained, std::vector<BuiltTarget>* untouched,
              std::vector<double>* ms) {
  trained->clear();
  trained->resize(photos.size());
  ms->assign(photos.size(), 0.0);
  std::vector<std::string> errors(photos.size());
  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  auto worker = [&] {
    for (size_t i = next++; i < photos.size(); i = next++) {
      const auto start = std::chrono::steady_clock::now();
      TargetSpec spec;
      spec.targetName = photos[i].name;
      spec.displayName = photos[i].name;
      if (!trainTarget(spec, photos[i].image, build, &(*trained)[i], &errors[i])) {
        if (errors[i].empty()) errors[i] = "training failed";
        continue;
      }
      (*ms)[i] = nowMsSince(start);
      std::fprintf(stderr, "\rtrained %zu of %zu targets", ++done, photos.size());
    }
  };
  std::thread other(worker);
  worker();
  other.join();
  std::fprintf(stderr, "\n");
  for (size_t i = 0; i < photos.size(); ++i) {
    if (!errors[i].empty()) {
      std::fprintf(stderr, "training %s failed: %s\n", photos[i].name.c_str(), errors[i].c_str());
      return false;
    }
  }
  // finishTarget takes the built entries over; every target goes into
  // several folds.
  untouched->clear();
  for (const TrainedTarget& t : *trained) untouched->push_back(t.built);
  return true;
}

// The group file of one fold: every member's keys weighed against the keys
// of the other members.
bool writeGroup(std::vector<TrainedTarget>& trained, const std::vector<BuiltTarget>& untouched,
                const BuildOptions& build, const std::vector<int>& members,
                const std::string& path) {
  std::map<uint32_t, int32_t> allViews;
  for (int i : members) {
    if (trained[i].recognition) trained[i].recognition->addTargetViews(&allViews);
  }
  std::vector<BuiltTarget> built;
  for (int i : members) {
    std::map<uint32_t, int32_t> others = allViews;
    if (trained[i].recognition) trained[i].recognition->addTargetViews(&others, -1);
    trained[i].built = untouched[i];
    BuiltTarget target;
    std::string error;
    if (!finishTarget(&trained[i], build, &others, &target, &error)) {
      std::fprintf(stderr, "%s: %s\n", untouched[i].targetName.c_str(), error.c_str());
      return false;
    }
    built.push_back(std::move(target));
  }
  std::vector<uint8_t> bytes;
  if (!makeGroupFile(built, &bytes)) return false;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

struct Fold {
  int background = 0;  // photo index, the one target left out
  std::vector<int> members;
  std::string groupName;
};

// One target frame's results.
struct TargetRow {
  int fold = 0;
  int band = 0;
  int target = 0;
  int view = 0;
  BandFrame frame;
  bool rendered = false;  // false: no view of the band fits the frame
  PoseOutcome ours;
  AcquireOutcome acquire;
  OrbResult orb;
  int orbNamed = -1;  // photo index
  double orbError = -1.0;
  double orbMs = 0.0;
};

struct FreeRow {
  int fold = 0;
  int index = 0;
  uint32_t seed = 0;
  PoseOutcome ours;
  OrbResult orb;
  int orbNamed = -1;
  double orbMs = 0.0;
};

// A share of the work a worker takes whole: all views of one target in one
// fold (target >= 0), or the fold's target-free frames.
struct Unit {
  int fold = 0;
  int target = -1;
  std::vector<TargetRow> targetRows;
  std::vector<FreeRow> freeRows;
  std::string error;
};

uint32_t frameSeed(uint32_t runSeed, int fold, int target, int band, int view) {
  uint32_t s = mixSeed(runSeed, static_cast<uint32_t>(fold) + 1);
  s = mixSeed(s, static_cast<uint32_t>(target + 2));
  s = mixSeed(s, static_cast<uint32_t>(band) + 1);
  return mixSeed(s, static_cast<uint32_t>(view) + 1);
}

struct Context {
  const Options* options = nullptr;
  const std::vector<Photo>* photos = nullptr;
  const std::vector<Fold>* folds = nullptr;
  const std::vector<OrbTarget>* orbTargets = nullptr;  // one per photo
  fs::path work;
  CameraModel camera;
};

// The database and recognizer of one fold, loaded by each worker for
// itself (the database manager is read by one thread at a time).
struct FoldEngines {
  int fold = -1;
  std::shared_ptr<ArdbMngr> database;
  std::shared_ptr<Recognizer> recognizer;
};

bool loadFold(const Context& ctx, int fold, int worker, FoldEngines* engines) {
  if (engines->fold == fold) return true;
  engines->fold = fold;
  engines->database = std::make_shared<ArdbMngr>();
  engines->database->setArdbAssetDirPath(ctx.work.string());
  const fs::path appData =
      ctx.work / ("app_f" + std::to_string(fold) + "_w" + std::to_string(worker));
  engines->database->loadTrackerData(appData.string(), {(*ctx.folds)[fold].groupName});
  if (!engines->database->getNegativeTable() || !engines->database->getPositiveTable() ||
      engines->database->getNegativeTable()->keyCount() +
              engines->database->getPositiveTable()->keyCount() ==
          0) {
    return false;
  }
  engines->recognizer = std::make_shared<Recognizer>();
  engines->recognizer->init(engines->database);
  engines->recognizer->setOptions(ctx.options->recognition);
  return true;
}

// The ORB baseline on one frame against the fold's targets; the named
// photo index and the wall time of the whole frame.
OrbResult runBaseline(const Context& ctx, const Fold& fold, OrbBaseline* orb, const Image& frame,
                      int* named, double* ms) {
  std::vector<const OrbTarget*> targets;
  for (int m : fold.members) targets.push_back(&(*ctx.orbTargets)[m]);
  const auto start = std::chrono::steady_clock::now();
  const OrbResult result = orb->recognise(frame, targets);
  *ms = nowMsSince(start);
  *named = result.named >= 0 ? fold.members[result.named] : -1;
  return result;
}

void runTargetUnit(const Context& ctx, FoldEngines* engines, OrbBaseline* orb, Unit* unit) {
  const Fold& fold = (*ctx.folds)[unit->fold];
  const Photo& target = (*ctx.photos)[unit->target];
  const Image* background = &(*ctx.photos)[fold.background].image;
  // Fresh trackers per unit: their RANSAC draws then depend on this unit's
  // frames only, whichever worker runs it.
  Tracker poseTracker;
  poseTracker.init(ctx.camera.width, ctx.camera.height, 0, engines->database);
  poseTracker.setInitialPoseOptions(ctx.options->pose);
  applyTrackingOptions(ctx.options->tracking, &poseTracker);
  auto stepTracker = std::make_shared<Tracker>();
  DefaultTrackingEngines live(engines->database, engines->recognizer, stepTracker);
  live.initTracker(ctx.camera.width, ctx.camera.height, 0);
  stepTracker->setInitialPoseOptions(ctx.options->pose);
  live.setTrackingOptions(ctx.options->tracking);
  FrameStepper stepper(&live);
  stepper.setAcquiringAttempts(ctx.options->acquiringAttempts);
  stepper.setAcquireOnRecognisedFrame(ctx.options->acquireOnRecognisedFrame);
  std::string error;
  for (int band = 0; band < kBandCount; ++band) {
    for (int v = 0; v < ctx.options->views; ++v) {
      TargetRow row;
      row.fold = unit->fold;
      row.band = band;
      row.target = unit->target;
      row.view = v;
      const uint32_t seed = frameSeed(ctx.options->seed, unit->fold, unit->target, band, v);
      if (!drawBandFrame(kBands[band], target.image.width, target.image.height, ctx.camera,
                         background, seed, &row.frame)) {
        unit->targetRows.push_back(row);
        continue;
      }
      std::array<RenderedView, kStillFrames> shots;
      if (!renderBandFrame(target.image, row.frame, 0, &shots[0], &error)) {
        unit->error = "render: " + error;
        return;
      }
      row.rendered = true;
      row.ours = recogniseAndPose(engines->recognizer.get(), &poseTracker, shots[0], target.name,
                                  ctx.camera);

      live.clearKeyframeTarget();
      stepper.reset();
      row.acquire = acquireStill(
          &stepper,
          [&](int i) -> const RenderedView* {
            if (i > 0 && !renderBandFrame(target.image, row.frame, i, &shots[i], &error)) {
              return nullptr;
            }
            return &shots[i];
          },
          target.name, ctx.camera);
      if (!error.empty()) {
        unit->error = "render: " + error;
        return;
      }

      row.orb = runBaseline(ctx, fold, orb, shots[0].frame, &row.orbNamed, &row.orbMs);
      if (row.orbNamed == unit->target) {
        row.orbError = cornerError(row.orb.corners, shots[0].truth.corners);
      }
      unit->targetRows.push_back(row);
    }
  }
}

void runFreeUnit(const Context& ctx, FoldEngines* engines, OrbBaseline* orb, Unit* unit) {
  const Fold& fold = (*ctx.folds)[unit->fold];
  const Image* background = &(*ctx.photos)[fold.background].image;
  std::string error;
  // A false recognition reaches the host only when a pose comes of it.
  Tracker poseTracker;
  poseTracker.init(ctx.camera.width, ctx.camera.height, 0, engines->database);
  poseTracker.setInitialPoseOptions(ctx.options->pose);
  applyTrackingOptions(ctx.options->tracking, &poseTracker);
  for (int i = 0; i < ctx.options->freeFrames; ++i) {
    FreeRow row;
    row.fold = unit->fold;
    row.index = i;
    row.seed = frameSeed(ctx.options->seed, unit->fold, -1, 0, i);
    RenderedView view;
    if (!renderFreeFrame(background, ctx.camera, row.seed, &view, &error)) {
      unit->error = "render: " + error;
      return;
    }
    row.ours = recogniseAndPose(engines->recognizer.get(), &poseTracker, view, "", ctx.camera);
    row.orb = runBaseline(ctx, fold, orb, view.frame, &row.orbNamed, &row.orbMs);
    unit->freeRows.push_back(row);
  }
}

bool runUnits(const Context& ctx, std::vector<Unit>* units) {
  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  auto worker = [&](int id) {
    FoldEngines engines;
    OrbBaseline orb;
    for (size_t u = next++; u < units->size(); u = next++) {
      Unit& unit = (*units)[u];
      if (!loadFold(ctx, unit.fold, id, &engines)) {
        unit.error = "fold " + std::to_string(unit.fold) + ": database has no keys";
        continue;
      }
      if (unit.target >= 0) {
        runTargetUnit(ctx, &engines, &orb, &unit);
      } else {
        runFreeUnit(ctx, &engines, &orb, &unit);
      }
      std::fprintf(stderr, "\revaluated %zu of %zu units", ++done, units->size());
    }
  };
  std::vector<std::thread> others;
  for (int t = 1; t < ctx.options->threads; ++t) others.emplace_back(worker, t);
  worker(0);
  for (std::thread& t : others) t.join();
  std::fprintf(stderr, "\n");
  bool ok = true;
  for (const Unit& unit : *units) {
    if (!unit.error.empty()) {
      std::fprintf(stderr, "%s\n", unit.error.c_str());
      ok = false;
    }
  }
  return ok;
}

// ---- Report ----

struct BandCount {
  int frames = 0;
  int unplaceable = 0;  // no view of the band fits the frame
  int ourRight = 0, ourWrong = 0, ourPosed = 0, ourAcquired = 0;
  int ourPoseFailed = 0;      // right target, no pose
  int ourWrongCandidate = 0;  // wrong target named, the right one among the candidates
  int ourPoseOff = 0;         // right target, pose beyond 5 px
  int orbRight = 0, orbWrong = 0, orbPosed = 0;
  std::vector<double> ourErrors;  // corner error of right-target poses
  std::vector<double> orbErrors;
};

double rate(int part, int whole) { return whole > 0 ? 100.0 * part / whole : 0.0; }

double median(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// The plot: per band a pair of bars (ours blue, the baseline orange) of the
// share posed within 5 px, labelled with the whole percent, on a 0-100 %
// axis with a grid line every 10 %.
bool writePlot(const std::string& path, const BandCount (&bands)[kBandCount], std::string* error) {
  constexpr int kWidth = 640, kHeight = 360;
  constexpr int kLeft = 40, kRight = 20, kTop = 40, kBottom = 30;
  const uint8_t white[3] = {255, 255, 255};
  const uint8_t grid[3] = {225, 225, 225};
  const uint8_t axis[3] = {60, 60, 60};
  const uint8_t ours[3] = {180, 110, 30};  // BGR: blue
  const uint8_t orb[3] = {40, 140, 240};   // BGR: orange
  Image image(kWidth, kHeight, 3, 255);
  auto fill = [&](int x0, int y0, int x1, int y1, const uint8_t* colour) {
    for (int y = std::max(0, y0); y < std::min(kHeight, y1); ++y) {
      for (int x = std::max(0, x0); x < std::min(kWidth, x1); ++x) {
        std::copy(colour, colour + 3, image.row(y) + 3 * x);
      }
    }
  };
  fill(0, 0, kWidth, kHeight, white);
  const int plotHeight = kHeight - kTop - kBottom;
  auto yOf = [&](double percent) {
    return kTop + plotHeight - static_cast<int>(std::lround(percent / 100.0 * plotHeight));
  };
  for (int p = 10; p <= 100; p += 10) {
    fill(kLeft, yOf(p), kWidth - kRight, yOf(p) + 1, p == 50 || p == 100 ? axis : grid);
  }
  // Whole percent above each bar in a 3 x 5 digit font, 2 pixels a dot.
  static const uint16_t kDigits[10] = {0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9,
                                       0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF};
  auto label = [&](int centreX, int bottomY, double percent) {
    const std::string text = std::to_string(static_cast<int>(std::lround(percent)));
    const int width = static_cast<int>(text.size()) * 8 - 2;
    int x = centreX - width / 2;
    for (char c : text) {
      const uint16_t bits = kDigits[c - '0'];
      for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 3; ++col) {
          if (bits & (1u << (14 - 3 * row - col))) {
            fill(x + 2 * col, bottomY - 10 + 2 * row, x + 2 * col + 2, bottomY - 8 + 2 * row, axis);
          }
        }
      }
      x += 8;
    }
  };
  const int groupWidth = (kWidth - kLeft - kRight) / kBandCount;
  const int barWidth = groupWidth / 3;
  for (int b = 0; b < kBandCount; ++b) {
    const int x = kLeft + b * groupWidth + groupWidth / 6;
    const double ourShare = rate(bands[b].ourPosed, bands[b].frames);
    const double orbShare = rate(bands[b].orbPosed, bands[b].frames);
    fill(x, yOf(ourShare), x + barWidth, yOf(0), ours);
    fill(x + barWidth, yOf(orbShare), x + 2 * barWidth, yOf(0), orb);
    label(x + barWidth / 2, yOf(ourShare) - 3, ourShare);
    label(x + barWidth + barWidth / 2, yOf(orbShare) - 3, orbShare);
    // Tick between groups.
    fill(kLeft + b * groupWidth, yOf(0), kLeft + b * groupWidth + 1, yOf(0) + 6, axis);
  }
  fill(kLeft, kTop, kLeft + 1, yOf(0) + 1, axis);
  fill(kLeft, yOf(0), kWidth - kRight, yOf(0) + 1, axis);
  // Legend by colour, top left: ours, then the baseline.
  fill(kLeft + 10, 12, kLeft + 26, 28, ours);
  fill(kLeft + 36, 12, kLeft + 52, 28, orb);
  return writePng(path, image, error);
}

std::string number(double value, int decimals) {
  if (!(value >= 0.0)) return std::string();
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void writeCsv(std::FILE* csv, const Context& ctx, const std::vector<Unit>& units) {
  const std::vector<Photo>& photos = *ctx.photos;
  std::fprintf(csv,
               "kind,fold,background,band,target,view,seed,tilt_deg,tilt_direction_deg,"
               "rotation_deg,width_share,offset_x,offset_y,our_result,our_named,our_posed,"
               "our_error_px,acquired,acquired_frame,acquire_error_px,orb_result,orb_named,"
               "orb_inliers,orb_error_px,our_truth_rank\n");
  for (const Unit& unit : units) {
    const std::string background = photos[(*ctx.folds)[unit.fold].background].name;
    for (const TargetRow& r : unit.targetRows) {
      const ViewParams& v = r.frame.view;
      const char* orbResult = r.orbNamed < 0 ? "none" : r.orbNamed == r.target ? "right" : "wrong";
      std::fprintf(csv, "target,%d,%s,%s,%s,%d,%u,", r.fold, background.c_str(),
                   kBands[r.band].name, photos[r.target].name.c_str(), r.view, r.frame.seed);
      if (!r.rendered) {
        std::fprintf(csv, ",,,,,,unplaceable,,,,,,,,,,,\n");
        continue;
      }
      std::fprintf(csv, "%.3f,%.3f,%.3f,%.4f,%.4f,%.4f,%s,%s,%d,%s,%d,%d,%s,%s,%s,%d,%s,%d\n",
                   v.tiltDeg, v.tiltDirectionDeg, v.rotationDeg, v.widthFraction, v.offsetX,
                   v.offsetY, verdictName(r.ours.verdict), r.ours.named.c_str(),
                   r.ours.posed ? 1 : 0, number(r.ours.error, 3).c_str(),
                   r.acquire.acquired ? 1 : 0, r.acquire.frame, number(r.acquire.error, 3).c_str(),
                   orbResult, r.orbNamed >= 0 ? photos[r.orbNamed].name.c_str() : "", r.orb.inliers,
                   number(r.orbError, 3).c_str(), r.ours.truthRank);
    }
    for (const FreeRow& r : unit.freeRows) {
      std::fprintf(
          csv, "free,%d,%s,,,%d,%u,,,,,,,%s,%s,%d,,,,,%s,%s,%d,,\n", r.fold, background.c_str(),
          r.index, r.seed, r.ours.verdict == Verdict::kNone ? "none" : "false_positive",
          r.ours.named.c_str(), r.ours.posed ? 1 : 0, r.orbNamed < 0 ? "none" : "false_positive",
          r.orbNamed >= 0 ? photos[r.orbNamed].name.c_str() : "", r.orb.inliers);
    }
  }
}

void printReport(const Context& ctx, const std::vector<Unit>& units,
                 BandCount (&bands)[kBandCount]) {
  const std::vector<Photo>& photos = *ctx.photos;
  // Per photo and band: frames, ours posed, baseline posed.
  std::vector<std::array<std::array<int, 3>, kBandCount>> perTarget(photos.size());
  for (auto& t : perTarget)
    for (auto& b : t) b = {0, 0, 0};
  int freeFrames = 0, ourFalse = 0, ourFalsePosed = 0, orbFalse = 0;
  // Initial poses run on target-free frames: what a busy empty scene costs.
  std::vector<double> freePoseMs;
  std::vector<double> recognizeMs, poseMs, orbMs;
  std::map<std::string, int> ourFalseNames;
  for (const Unit& unit : units) {
    for (const TargetRow& r : unit.targetRows) {
      BandCount& b = bands[r.band];
      if (!r.rendered) {
        ++b.unplaceable;
        continue;
      }
      ++b.frames;
      recognizeMs.push_back(r.ours.recognizeMs);
      if (r.ours.poseMs >= 0.0) poseMs.push_back(r.ours.poseMs);
      orbMs.push_back(r.orbMs);
      b.ourRight += r.ours.verdict == Verdict::kRight ? 1 : 0;
      b.ourWrong += r.ours.verdict == Verdict::kWrong ? 1 : 0;
      b.ourWrongCandidate += r.ours.verdict == Verdict::kWrong && r.ours.truthRank >= 0 ? 1 : 0;
      b.ourPosed += r.ours.good() ? 1 : 0;
      b.ourAcquired += r.acquire.acquired ? 1 : 0;
      if (r.ours.verdict == Verdict::kRight) {
        if (!r.ours.posed) ++b.ourPoseFailed;
        if (r.ours.error >= 0.0) b.ourErrors.push_back(r.ours.error);
        if (r.ours.error > kGoodCornerErrorPx) ++b.ourPoseOff;
      }
      const bool orbGood = r.orbError >= 0.0 && r.orbError <= kGoodCornerErrorPx;
      b.orbRight += r.orbNamed == r.target ? 1 : 0;
      b.orbWrong += r.orbNamed >= 0 && r.orbNamed != r.target ? 1 : 0;
      b.orbPosed += orbGood ? 1 : 0;
      if (r.orbError >= 0.0) b.orbErrors.push_back(r.orbError);
      auto& t = perTarget[r.target][r.band];
      ++t[0];
      t[1] += r.ours.good() ? 1 : 0;
      t[2] += orbGood ? 1 : 0;
    }
    for (const FreeRow& r : unit.freeRows) {
      ++freeFrames;
      recognizeMs.push_back(r.ours.recognizeMs);
      orbMs.push_back(r.orbMs);
      if (r.ours.poseMs >= 0.0) freePoseMs.push_back(r.ours.poseMs);
      if (r.ours.verdict != Verdict::kNone) {
        ++ourFalse;
        ourFalsePosed += r.ours.posed ? 1 : 0;
        ++ourFalseNames[r.ours.named];
      }
      orbFalse += r.orbNamed >= 0 ? 1 : 0;
    }
  }

  std::printf(
      "\nPer band (ours: Vornik; ORB: ORB-500 + BF Hamming 2-NN ratio %.1f + RANSAC %.0f px,\n"
      "named with >= %d inliers after >= %d ratio matches). posed = right target, every corner\n"
      "within %.0f px (ours: recognition + initial pose on the frame); acq3 = a pose within\n"
      "%.0f px within %d frames of a still camera through the live stage machine.\n",
      kOrbRatio, kOrbRansacPx, kOrbMinInliers, kOrbMinMatches, kGoodCornerErrorPx,
      kGoodCornerErrorPx, kStillFrames);
  std::printf("%-8s %6s | %7s %5s %7s %7s %8s | %7s %5s %7s %8s\n", "band", "frames", "recog%",
              "wrong", "posed%", "acq3%", "med_err", "recog%", "wrong", "posed%", "med_err");
  BandCount all;
  for (int b = 0; b < kBandCount; ++b) {
    const BandCount& c = bands[b];
    std::printf("%-8s %6d | %7.1f %5d %7.1f %7.1f %7.2fpx | %7.1f %5d %7.1f %6.2fpx\n",
                kBands[b].name, c.frames, rate(c.ourRight, c.frames), c.ourWrong,
                rate(c.ourPosed, c.frames), rate(c.ourAcquired, c.frames), median(c.ourErrors),
                rate(c.orbRight, c.frames), c.orbWrong, rate(c.orbPosed, c.frames),
                median(c.orbErrors));
    all.frames += c.frames;
    all.unplaceable += c.unplaceable;
    all.ourRight += c.ourRight;
    all.ourWrong += c.ourWrong;
    all.ourPosed += c.ourPosed;
    all.ourAcquired += c.ourAcquired;
    all.orbRight += c.orbRight;
    all.orbWrong += c.orbWrong;
    all.orbPosed += c.orbPosed;
  }
  std::printf("%-8s %6d | %7.1f %5d %7.1f %7.1f %8s | %7.1f %5d %7.1f\n", "all", all.frames,
              rate(all.ourRight, all.frames), all.ourWrong, rate(all.ourPosed, all.frames),
              rate(all.ourAcquired, all.frames), "", rate(all.orbRight, all.frames), all.orbWrong,
              rate(all.orbPosed, all.frames));
  if (all.unplaceable > 0) {
    std::printf("(%d views left out: no view of the band fitted the frame)\n", all.unplaceable);
  }

  std::printf("\nWhere ours misses a pose within %.0f px (frames per band):\n", kGoodCornerErrorPx);
  std::printf("(wrong_cand: of the wrong, the frames whose right target was a pose candidate)\n");
  std::printf("%-8s %10s %7s %11s %10s %10s\n", "band", "not_recog", "wrong", "wrong_cand",
              "no_pose", "pose>5px");
  for (int b = 0; b < kBandCount; ++b) {
    const BandCount& c = bands[b];
    std::printf("%-8s %10d %7d %11d %10d %10d\n", kBands[b].name,
                c.frames - c.ourRight - c.ourWrong, c.ourWrong, c.ourWrongCandidate,
                c.ourPoseFailed, c.ourPoseOff);
  }

  std::printf("\nPosed within %.0f px by target and band, ours / ORB (%%):\n", kGoodCornerErrorPx);
  std::printf("%-10s", "target");
  for (int b = 0; b < kBandCount; ++b) std::printf(" %13s", kBands[b].name);
  std::printf("\n");
  for (size_t p = 0; p < photos.size(); ++p) {
    if (perTarget[p][0][0] + perTarget[p][1][0] + perTarget[p][2][0] + perTarget[p][3][0] == 0)
      continue;
    std::printf("%-10s", photos[p].name.c_str());
    for (int b = 0; b < kBandCount; ++b) {
      const auto& t = perTarget[p][b];
      std::printf("  %5.0f / %4.0f", rate(t[1], t[0]), rate(t[2], t[0]));
    }
    std::printf("\n");
  }

  std::printf(
      "\nTarget-free frames: %d; false positives: ours %d (%.1f%%) recognised, %d (%.1f%%) posed; "
      "ORB %d (%.1f%%)",
      freeFrames, ourFalse, rate(ourFalse, freeFrames), ourFalsePosed,
      rate(ourFalsePosed, freeFrames), orbFalse, rate(orbFalse, freeFrames));
  if (!ourFalseNames.empty()) {
    std::printf("; ours named");
    for (const auto& entry : ourFalseNames) {
      std::printf(" %s %d", entry.first.c_str(), entry.second);
    }
  }
  std::printf("\nInitial pose tried on %zu target-free frames (%.1f%%), median %.2f ms\n",
              freePoseMs.size(), rate(static_cast<int>(freePoseMs.size()), freeFrames),
              median(freePoseMs));
  std::printf(
      "\nMedian wall time per call on its worker thread (%d workers): recognize %.2f ms (%zu), "
      "initial pose %.2f ms (%zu recognised frames), ORB whole frame %.2f ms (%zu)\n",
      ctx.options->threads, median(recognizeMs), recognizeMs.size(), median(poseMs), poseMs.size(),
      median(orbMs), orbMs.size());
}

int usage() {
  std::fprintf(
      stderr,
      "usage: acquisition_eval [--quick] [--views N] [--free M] [--folds K] "
      "[--threads T]\n"
      "                        [--csv FILE] [--plot FILE] [--seed S]\n"
      "                        [--training-views N] [--budget VOTES] [--max-keys N]\n"
      "                        [--tracking-views N] [--max-tracking N] [--variants]\n"
      "                        [--small-candidates] [--second-look PERCENT]\n"
      "                        [--pose-features N] [--refine] [--attempts N]\n"
      "                        [--rescue N] [--enlarged] [--vote-window N] [--corners N]\n"
      "                        [--recognition-window VOTES] [--vote-disc PERCENT]\n"
      "                        [--candidates N] [--candidate-votes N] [--train-corners N]\n"
      "                        [--agreement PERCENT] [--min-matches N]\n"
      "                        [--near-keys STEPS] [--pose-retries N]\n"
      "                        [--level-range N] [--keyframe-fine-below N] [--tilt-views]\n"
      "                        [--same-frame] [--rigid-fit]\n");
  return 2;
}

int run(int argc, char** argv) {
  const auto runStart = std::chrono::steady_clock::now();
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--quick") {
      options.folds = kQuickFolds;
      options.views = 1;
      options.freeFrames = 5;
    } else if (arg == "--views" && hasValue) {
      options.views = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--free" && hasValue) {
      options.freeFrames = std::max(0, std::atoi(argv[++i]));
    } else if (arg == "--folds" && hasValue) {
      options.folds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--threads" && hasValue) {
      options.threads = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--csv" && hasValue) {
      options.csvPath = argv[++i];
    } else if (arg == "--plot" && hasValue) {
      options.plotPath = argv[++i];
    } else if (arg == "--seed" && hasValue) {
      options.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--training-views" && hasValue) {
      options.build.trainingViews = std::max(0, std::atoi(argv[++i]));
    } else if (arg == "--budget" && hasValue) {
      options.build.backgroundVoteBudget = std::atof(argv[++i]);
    } else if (arg == "--max-keys" && hasValue) {
      options.build.maxRecognitionKeys = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--tracking-views" && hasValue) {
      options.build.trackingTrainingViews = std::max(0, std::atoi(argv[++i]));
    } else if (arg == "--pose-features" && hasValue) {
      options.pose.featuresPerLayer = std::clamp(std::atoi(argv[++i]), 1, kMaxDescribedPerLayer);
    } else if (arg == "--refine") {
      options.pose.refine = true;
    } else if (arg == "--attempts" && hasValue) {
      options.acquiringAttempts =
          std::clamp(std::atoi(argv[++i]), 1, FrameStepper::kMaxAcquiringAttempts);
    } else if (arg == "--rescue" && hasValue) {
      options.pose.ransacRescueIterations =
          std::clamp(std::atoi(argv[++i]), 0, kMaxRansacRescueIterations);
    } else if (arg == "--corners" && hasValue) {
      options.recognition.cornerBudget =
          std::clamp(std::atoi(argv[++i]), kMinRecognitionCorners, kMaxRecognitionCorners);
    } else if (arg == "--enlarged") {
      options.pose.retryEnlarged = true;
    } else if (arg == "--pose-retries" && hasValue) {
      options.pose.consensusRetries = std::atoi(argv[++i]);
    } else if (arg == "--recognition-window" && hasValue) {
      options.recognition.windowRetryVotes = std::atoi(argv[++i]);
    } else if (arg == "--vote-disc" && hasValue) {
      options.recognition.voteDiscPercent = std::atoi(argv[++i]);
    } else if (arg == "--candidates" && hasValue) {
      options.recognition.poseCandidates = std::atoi(argv[++i]);
    } else if (arg == "--candidate-votes" && hasValue) {
      options.recognition.candidateMinVotes = std::atoi(argv[++i]);
    } else if (arg == "--agreement" && hasValue) {
      options.pose.minAgreement = std::clamp(std::atoi(argv[++i]), 0, 100) / 100.0f;
    } else if (arg == "--near-keys" && hasValue) {
      options.recognition.nearKeySteps = std::clamp(std::atoi(argv[++i]), 0, kMaxNearKeySteps);
    } else if (arg == "--min-matches" && hasValue) {
      options.pose.minMatches =
          std::clamp(std::atoi(argv[++i]), kMinInitialPoseMatches, kInitialPoseMinPairs);
    } else if (arg == "--vote-window" && hasValue) {
      options.pose.voteWindowEnlargement = std::atoi(argv[++i]);
    } else if (arg == "--variants") {
      options.build.orientationVariants = true;
    } else if (arg == "--train-corners") {
      options.build.recognitionCorners =
          std::clamp(std::atoi(argv[++i]), kMinRecognitionCorners, kMaxRecognitionCorners);
    } else if (arg == "--max-tracking" && hasValue) {
      options.build.maxTrackingFeatures = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--small-candidates") {
      options.build.smallCandidateViews = true;
    } else if (arg == "--tilt-views") {
      options.pose.tiltViews = true;
    } else if (arg == "--second-look" && hasValue) {
      options.pose.secondLookAgreement = std::clamp(std::atoi(argv[++i]), 0, 100) / 100.0f;
    } else if (arg == "--rigid-fit") {
      options.pose.rigidFit = true;
    } else if (arg == "--same-frame") {
      options.acquireOnRecognisedFrame = true;
    } else if (arg == "--level-range" && hasValue) {
      options.tracking.keyframeLevelRange = std::clamp(std::atoi(argv[++i]), 0, 3);
    } else if (arg == "--keyframe-fine-below" && hasValue) {
      options.tracking.keyframeFineBelowInliers = std::clamp(std::atoi(argv[++i]), 0, 35);
    } else {
      return usage();
    }
  }
  options.build.seed = options.seed;
  // The baseline runs on the worker's own thread, as the library does.
  cv::setNumThreads(1);

  std::vector<Photo> photos;
  if (!loadPhotos(&photos)) return 1;
  const int foldCount = options.folds > 0 ? std::min<int>(options.folds, photos.size())
                                          : static_cast<int>(photos.size());

  const fs::path work =
      fs::temp_directory_path() / ("acquisition_eval_" + std::to_string(getpid()));
  std::error_code ec;
  fs::create_directories(work, ec);

  std::vector<TrainedTarget> trained;
  std::vector<BuiltTarget> untouched;
  std::vector<double> trainMs;
  std::vector<Fold> folds;
  std::vector<OrbTarget> orbTargets;
  const auto trainStart = std::chrono::steady_clock::now();
  {
    QuietStdout quiet;
    if (!trainAll(photos, options.build, &trained, &untouched, &trainMs)) return 1;
  }
  const double trainSeconds = secondsSince(trainStart);
  for (int k = 0; k < foldCount; ++k) {
    Fold fold;
    fold.background = k;
    for (int i = 0; i < static_cast<int>(photos.size()); ++i) {
      if (i != k) fold.members.push_back(i);
    }
    fold.groupName = "fold" + std::to_string(k) + ".db";
    if (!writeGroup(trained, untouched, options.build, fold.members,
                    (work / fold.groupName).string())) {
      std::fprintf(stderr, "cannot write the group of fold %d\n", k);
      return 1;
    }
    folds.push_back(std::move(fold));
  }
  // The baseline's targets: the grey working image the database stores.
  {
    OrbBaseline orb;
    for (size_t i = 0; i < photos.size(); ++i) {
      Image stored;
      std::string error;
      if (!decodeJpeg(untouched[i].imageEntry.data(), untouched[i].imageEntry.size(), &stored,
                      &error)) {
        std::fprintf(stderr, "%s: stored image: %s\n", photos[i].name.c_str(), error.c_str());
        return 1;
      }
      orbTargets.push_back(orb.describeTarget(photos[i].name, toGray(stored)));
    }
  }

  std::printf(
      "Acquisition evaluation: %zu photos, %d folds, %d views per band, target and fold, "
      "%d target-free frames per fold, %dx%d frames, seed %u\n",
      photos.size(), foldCount, options.views, options.freeFrames, kFrameWidth, kFrameHeight,
      options.seed);
  std::printf(
      "Builder: %d training views, %d tracking-scoring views, budget %.2f votes, %d keys; "
      "orientation variants %s, small candidate views %s; initial pose on %d frame features "
      "per layer, refined %s, %d RANSAC rescue iterations, enlarged retry %s, vote window %d; %d "
      "acquiring "
      "attempts; %d recognition corners (%d in training), recognition window at %d votes, vote "
      "disc %d %%, %d pose candidates at %d votes, pose agreement %.2f, %d matches per pose, near "
      "keys within "
      "%d steps, %d consensus retries, tilted views %s, acquiring on the recognised frame %s, rigid fit %s, second look below %.2f; keyframe level range %d, keyframe fine "
      "templates below "
      "%d inliers\n",
      options.build.trainingViews, options.build.trackingTrainingViews,
      options.build.backgroundVoteBudget, options.build.maxRecognitionKeys,
      options.build.orientationVariants ? "on" : "off",
      options.build.smallCandidateViews ? "on" : "off", options.pose.featuresPerLayer,
      options.pose.refine ? "on" : "off", options.pose.ransacRescueIterations,
      options.pose.retryEnlarged ? "on" : "off", options.pose.voteWindowEnlargement,
      options.acquiringAttempts, options.recognition.cornerBudget, options.build.recognitionCorners,
      options.recognition.windowRetryVotes, options.recognition.voteDiscPercent,
      options.recognition.poseCandidates, options.recognition.candidateMinVotes,
      options.pose.minAgreement, options.pose.minMatches, options.recognition.nearKeySteps,
      options.pose.consensusRetries, options.pose.tiltViews ? "on" : "off",
      options.acquireOnRecognisedFrame ? "on" : "off", options.pose.rigidFit ? "on" : "off",
      options.pose.secondLookAgreement,
      options.tracking.keyframeLevelRange, options.tracking.keyframeFineBelowInliers);
  std::printf("Training (%d views per target, 2 threads):", options.build.trainingViews);
  for (size_t i = 0; i < photos.size(); ++i) {
    std::printf(" %s %.1f s", photos[i].name.c_str(), trainMs[i] / 1e3);
  }
  std::printf("; all %.1f s wall\n", trainSeconds);
  std::printf("ORB-500 keypoints on the stored images:");
  for (const OrbTarget& t : orbTargets) std::printf(" %s %zu", t.name.c_str(), t.keypoints.size());
  std::printf("\n");

  Context ctx;
  ctx.options = &options;
  ctx.photos = &photos;
  ctx.folds = &folds;
  ctx.orbTargets = &orbTargets;
  ctx.work = work;
  ctx.camera.width = kFrameWidth;
  ctx.camera.height = kFrameHeight;
  std::vector<Unit> units;
  for (int k = 0; k < foldCount; ++k) {
    for (int m : folds[k].members) {
      Unit unit;
      unit.fold = k;
      unit.target = m;
      units.push_back(std::move(unit));
    }
    Unit free;
    free.fold = k;
    units.push_back(std::move(free));
  }
  const auto evalStart = std::chrono::steady_clock::now();
  bool ok;
  {
    QuietStdout quiet;
    ok = runUnits(ctx, &units);
  }
  const double evalSeconds = secondsSince(evalStart);
  fs::remove_all(work, ec);
  if (!ok) return 1;

  BandCount bands[kBandCount];
  printReport(ctx, units, bands);

  std::FILE* csv = std::fopen(options.csvPath.c_str(), "w");
  if (csv == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", options.csvPath.c_str());
    return 1;
  }
  writeCsv(csv, ctx, units);
  std::fclose(csv);
  std::string error;
  if (!writePlot(options.plotPath, bands, &error)) {
    std::fprintf(stderr, "cannot write %s: %s\n", options.plotPath.c_str(), error.c_str());
    return 1;
  }
  std::printf("\nCSV written to %s (one row per frame)\n", options.csvPath.c_str());
  std::printf("Plot written to %s: posed within %.0f px per band, left to right",
              options.plotPath.c_str(), kGoodCornerErrorPx);
  for (int b = 0; b < kBandCount; ++b) std::printf(" %s", kBands[b].name);
  std::printf(
      "; blue bars ours, orange ORB-500 (legend squares top left in that order); grid "
      "every 10 %%, darker at 50 and 100 %%\n");
  std::printf("Frames evaluated in %.1f s wall; total run time %.1f s\n", evalSeconds,
              secondsSince(runStart));
  return 0;
}

}  // namespace
}  // namespace vornik

int main(int argc, char** argv) { return vornik::run(argc, argv); }
