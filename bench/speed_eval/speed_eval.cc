// Speed evaluation: the library's recognition, initial pose, tracking and
// whole-frame times beside the pipeline a user would write instead with
// OpenCV (ORB-500, brute-force Hamming 2-NN with ratio 0.8, RANSAC
// homography at 3 px), both measured in one run on the same frames.
//
//   speed_eval [--cpu N] [--repeats N] [--views N] [--frames N]
//              [--training-views N] [--tracking-views N] [--seed S]
//              [--search-threads N] [--coarse-refinement 1]
//              [--corners N] [--vote-disc PERCENT] [--near-keys STEPS]
//
// Ten of the bundled photos are trained as targets with the builder's
// defaults (--training-views and --tracking-views set its trainingViews and
// trackingTrainingViews); the eleventh, coffee, is the only background, so
// no frame shows a background a database contains. One database holds the
// first 8 targets, one all 10. Measured, each on frames the builder never
// trained on (tools/common/camera_simulation):
//   1. N frontal views per target of the 8 (default 5,
//      tools/builder/band_views): recognize on 8 and on 10 targets, the
//      initial pose of the named target, and the baseline against the 8
//      targets (detection, matching, RANSAC homography). Recognition plus
//      initial pose is compared on the frames where a target was named;
//   2. a 300-frame sequence (--frames) of the first target, a slow orbit at
//      35 degrees tilt (tools/common/pose_sequence): track in the steady
//      state (the frame before was tracked) beside the baseline against
//      that one target;
//   3. the same sequence, every frame through the live thread's stage
//      machine (FrameStepper) beside the baseline against the 8 targets.
// Every engine makes --repeats passes (default 3) over its frames. --cpu
// pins the process to one core before any thread starts; without it the
// run is unpinned. --search-threads sets the tracker's coarse-search workers
// (default 3, as the library's default; 0 searches on the tracking thread);
// a process on one processor searches on the tracking thread either way.
// --coarse-refinement 1 switches on the tracker's opt-in coarse refinement;
// --corners, --vote-disc and --near-keys set the recognizer's corners per
// frame, its vote disc and its near keys (the library's recognitionCorners,
// recognitionVoteDisc and recognitionNearKeySteps).
// The goals are printed beside the figures, judged on the medians; nothing
// fails on time.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <opencv2/core/utility.hpp>

#include "builder/band_views.h"
#include "builder/database_builder.h"
#include "builder/target_builder.h"
#include "common/camera_simulation.h"
#include "common/image_io.h"
#include "common/pose_sequence.h"
#include "database/ardb_mngr.h"
#include "manager/frame_stepper.h"
#include "manager/tracking_engines.h"
#include "orb_baseline.h"
#include "platform/threads.h"
#include "quiet_stdout.h"
#include "recognition/recognizer.h"
#include "tracking/tracker.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;
constexpr size_t kSmallDatabase = 8;
constexpr size_t kLargeDatabase = 10;
constexpr char kBackgroundName[] = "coffee";
// Samples per pixel side of the rendered frames: the database report's
// fresh views use 2 as well; 4 would take most of the run.
constexpr int kSupersampling = 2;

struct Options {
  BuildOptions build;
  int cpu = -1;  // -1: unpinned
  int repeats = 3;
  int views = 5;
  int frames = kDefaultSequenceFrames;
  uint32_t seed = 1;
  int searchThreads = 3;           // the tracker's coarse-search workers (0: none)
  bool coarseRefinement = false;   // the tracker's opt-in coarse refinement
  RecognitionOptions recognition;  // the recognizer's opt-ins
};

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

double mean(const std::vector<double>& values) {
  return values.empty() ? NAN : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

// Wall time of one call.
template <typename Call>
double timeMs(Call&& call) {
  const auto start = Clock::now();
  call();
  return msSince(start);
}

struct Photo {
  std::string name;
  Image image;
};

// The background photo and, in name order, the targets.
bool loadPhotos(Photo* background, std::vector<Photo>* targets) {
  const fs::path dir = fs::path(VORNIK_DATA_DIR) / "photos";
  std::vector<fs::path> paths;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().extension() == ".jpg") paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  for (const fs::path& path : paths) {
    const bool isBackground = path.stem() == kBackgroundName;
    if (!isBackground && targets->size() == kLargeDatabase) continue;
    Photo& photo = isBackground ? *background : targets->emplace_back();
    photo.name = path.stem().string();
    std::string error;
    if (!readImage(path.string(), &photo.image, &error)) {
      std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), error.c_str());
      return false;
    }
  }
  if (background->image.empty() || targets->size() < kLargeDatabase) {
    std::fprintf(stderr, "need %s.jpg and %zu other photos in %s, found %zu others\n",
                 kBackgroundName, kLargeDatabase, dir.c_str(), targets->size());
    return false;
  }
  return true;
}

// The group file of the first `count` targets, each one's keys weighed
// against the others', loaded into a database manager and a recognizer.
struct Engines {
  std::shared_ptr<ArdbMngr> database;
  std::shared_ptr<Recognizer> recognizer;
};

bool makeDatabase(std::vector<TrainedTarget>& trained, const std::vector<BuiltTarget>& untouched,
                  const BuildOptions& build, size_t count, const fs::path& work, Engines* engines) {
  std::map<uint32_t, int32_t> allViews;
  for (size_t i = 0; i < count; ++i) {
    if (trained[i].recognition) trained[i].recognition->addTargetViews(&allViews);
  }
  std::vector<BuiltTarget> built;
  for (size_t i = 0; i < count; ++i) {
    std::map<uint32_t, int32_t> others = allViews;
    if (trained[i].recognition) trained[i].recognition->addTargetViews(&others, -1);
    trained[i].built = untouched[i];  // finishTarget takes the entries over
    BuiltTarget target;
    std::string error;
    if (!finishTarget(&trained[i], build, &others, &target, &error)) {
      std::fprintf(stderr, "%s: %s\n", untouched[i].targetName.c_str(), error.c_str());
      return false;
    }
    built.push_back(std::move(target));
  }
  const std::string group = "speed" + std::to_string(count) + ".db";
  std::vector<uint8_t> bytes;
  std::ofstream out(work / group, std::ios::binary);
  if (!makeGroupFile(built, &bytes) || !out.write(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size()))) {
    std::fprintf(stderr, "cannot write the group file %s\n", (work / group).c_str());
    return false;
  }
  out.close();
  engines->database = std::make_shared<ArdbMngr>();
  engines->database->setArdbAssetDirPath(work.string());
  engines->database->loadTrackerData((work / ("app" + std::to_string(count))).string(), {group});
  engines->recognizer = std::make_shared<Recognizer>();
  if (engines->recognizer->init(engines->database) != 0) {
    std::fprintf(stderr, "the database of %zu targets has no recognition data\n", count);
    return false;
  }
  return true;
}

// One row of the report; `orb` is empty where the baseline has no
// counterpart. Goals (0: none) are judged on the medians.
struct Item {
  explicit Item(const char* itemName, double ratio = 0.0, double ms = 0.0)
      : name(itemName), minRatio(ratio), maxMs(ms) {}
  const char* name;
  double minRatio;  // ORB / ours at least
  double maxMs;     // ours at most
  std::vector<double> ours, orb;
};

void printItems(const std::vector<const Item*>& items) {
  std::printf("\n%-38s %7s %8s %8s | %8s %8s | %6s %6s | %s\n", "item (ms per call)", "samples",
              "median", "mean", "ORB med", "ORB mean", "ratio", "(mean)", "goals");
  for (const Item* item : items) {
    const double ours = median(item->ours), orb = median(item->orb);
    std::printf("%-38s %7zu %8.3f %8.3f |", item->name, item->ours.size(), ours, mean(item->ours));
    if (item->orb.empty()) {
      std::printf(" %8s %8s | %6s %6s |", "", "", "", "");
    } else {
      std::printf(" %8.2f %8.2f | %5.1fx %5.1fx |", orb, mean(item->orb), orb / ours,
                  mean(item->orb) / mean(item->ours));
    }
    if (item->minRatio > 0.0) {
      std::printf(" ratio >= %.0fx: %s", item->minRatio,
                  orb / ours >= item->minRatio ? "met" : "missed");
    }
    if (item->maxMs > 0.0) {
      std::printf("%s <= %.2g ms: %s", item->minRatio > 0.0 ? ";" : "", item->maxMs,
                  ours <= item->maxMs ? "met" : "missed");
    }
    std::printf("\n");
  }
  std::printf("(ratio: ORB median / our median; (mean): the same of the means)\n");
}

bool orbGood(const OrbResult& result, int expected, const RenderedView& view) {
  return result.named == expected &&
         cornerError(result.corners, view.truth.corners) <= kGoodCornerErrorPx;
}

int usage() {
  std::fprintf(stderr,
               "usage: speed_eval [--cpu N] [--repeats N] [--views N] [--frames N]\n"
               "                  [--training-views N] [--tracking-views N] [--seed S]\n"
               "                  [--search-threads N] [--coarse-refinement 1]\n"
               "                  [--corners N] [--vote-disc PERCENT] [--near-keys STEPS]\n");
  return 2;
}

int run(int argc, char** argv) {
  const auto runStart = Clock::now();
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--cpu" && hasValue) {
      options.cpu = std::max(0, std::atoi(argv[++i]));
    } else if (arg == "--repeats" && hasValue) {
      options.repeats = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--views" && hasValue) {
      options.views = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--frames" && hasValue) {
      options.frames = std::max(2, std::atoi(argv[++i]));
    } else if (arg == "--training-views" && hasValue) {
      options.build.trainingViews = std::max(0, std::atoi(argv[++i]));
    } else if (arg == "--tracking-views" && hasValue) {
      options.build.trackingTrainingViews = std::max(0, std::atoi(argv[++i]));
    } else if (arg == "--search-threads" && hasValue) {
      options.searchThreads = std::clamp(std::atoi(argv[++i]), 0, 3);
    } else if (arg == "--coarse-refinement" && hasValue) {
      options.coarseRefinement = std::atoi(argv[++i]) != 0;
    } else if (arg == "--corners" && hasValue) {
      options.recognition.cornerBudget = std::atoi(argv[++i]);
    } else if (arg == "--vote-disc" && hasValue) {
      options.recognition.voteDiscPercent = std::atoi(argv[++i]);
    } else if (arg == "--near-keys" && hasValue) {
      options.recognition.nearKeySteps = std::atoi(argv[++i]);
    } else if (arg == "--seed" && hasValue) {
      options.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      return usage();
    }
  }
  options.build.seed = options.seed;
  // Before any thread starts: the threads created later inherit the mask.
  if (options.cpu >= 0) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(options.cpu, &set);
    if (sched_setaffinity(0, sizeof(set), &set) != 0) {
      std::fprintf(stderr, "cannot pin to CPU %d\n", options.cpu);
      return 1;
    }
  }
  // The baseline on the calling thread only, as the library recognises.
  cv::setNumThreads(1);

  Photo background;
  std::vector<Photo> photos;
  if (!loadPhotos(&background, &photos)) return 1;
  // The group files live in a temporary folder, removed however the run ends.
  struct Work {
    fs::path path = fs::temp_directory_path() / ("speed_eval_" + std::to_string(getpid()));
    ~Work() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } scratch;
  const fs::path& work = scratch.path;
  std::error_code ec;
  fs::create_directories(work, ec);

  // ---- Databases and baseline targets ----
  std::vector<TrainedTarget> trained(photos.size());
  std::vector<BuiltTarget> untouched;
  std::vector<OrbTarget> orbTargets;
  Engines small, large;
  const auto trainStart = Clock::now();
  {
    QuietStdout quiet;
    for (size_t i = 0; i < photos.size(); ++i) {
      TargetSpec spec;
      spec.targetName = photos[i].name;
      spec.displayName = photos[i].name;
      std::string error;
      if (!trainTarget(spec, photos[i].image, options.build, &trained[i], &error)) {
        std::fprintf(stderr, "training %s failed: %s\n", photos[i].name.c_str(), error.c_str());
        return 1;
      }
      untouched.push_back(trained[i].built);
      std::fprintf(stderr, "\rtrained %zu of %zu targets", i + 1, photos.size());
    }
    std::fprintf(stderr, "\n");
    if (!makeDatabase(trained, untouched, options.build, kSmallDatabase, work, &small) ||
        !makeDatabase(trained, untouched, options.build, kLargeDatabase, work, &large)) {
      return 1;
    }
    small.recognizer->setOptions(options.recognition);
    large.recognizer->setOptions(options.recognition);
  }
  const double trainSeconds = msSince(trainStart) / 1e3;
  OrbBaseline orb;
  for (size_t i = 0; i < photos.size(); ++i) {
    Image stored;  // the grey working image the database stores
    std::string error;
    if (!decodeJpeg(untouched[i].imageEntry.data(), untouched[i].imageEntry.size(), &stored,
                    &error)) {
      std::fprintf(stderr, "%s: stored image: %s\n", photos[i].name.c_str(), error.c_str());
      return 1;
    }
    orbTargets.push_back(orb.describeTarget(photos[i].name, toGray(stored)));
  }
  std::vector<const OrbTarget*> orbSmall, orbOne = {&orbTargets[0]};
  for (size_t i = 0; i < kSmallDatabase; ++i) orbSmall.push_back(&orbTargets[i]);

  // ---- Frames: frontal views of the 8 targets, then the sequence ----
  CameraModel camera;
  camera.width = kFrameWidth;
  camera.height = kFrameHeight;
  const auto renderStart = Clock::now();
  // Still view i shows target i / views.
  std::vector<RenderedView> stills(kSmallDatabase * options.views);
  std::string error;
  for (size_t i = 0; i < stills.size(); ++i) {
    const Image& target = photos[i / options.views].image;
    BandFrame band;
    const bool drawn = drawBandFrame(kBands[0], target.width, target.height, camera,
                                     &background.image, mixSeed(options.seed, i + 1), &band);
    band.effects.supersampling = kSupersampling;
    if (!drawn || !renderBandFrame(target, band, 0, &stills[i], &error)) {
      std::fprintf(stderr, "cannot render frontal view %zu: %s\n", i, error.c_str());
      return 1;
    }
  }
  // One handheld camera for the whole sequence; only its sensor noise
  // changes from frame to frame.
  CameraEffects effects = randomCameraEffects(mixSeed(options.seed, 1000), camera);
  effects.camera = camera;
  effects.background = &background.image;
  effects.supersampling = kSupersampling;
  std::vector<RenderedView> sequence(options.frames);
  for (int i = 0; i < options.frames; ++i) {
    effects.seed = mixSeed(options.seed, 2000 + static_cast<uint32_t>(i));
    const ViewParams view = sequenceView(SequenceKind::kOrbit, i, options.frames);
    if (!renderCameraView(&photos[0].image, poseFromView(view, camera), effects, &sequence[i],
                          &error)) {
      std::fprintf(stderr, "cannot render sequence frame %d: %s\n", i, error.c_str());
      return 1;
    }
  }
  std::fprintf(stderr, "\rrendered %zu views and %d sequence frames in %.1f s\n", stills.size(),
               options.frames, msSince(renderStart) / 1e3);

  // ---- Measurements ----
  // Each engine makes its own passes over its frames (sample k is frame
  // k % count of pass k / count), so that no call finds its frame or its
  // tables warm from another engine's call.
  const size_t stillSamples = stills.size() * options.repeats;
  const size_t frameSamples = sequence.size() * options.repeats;
  auto still = [&](size_t k) -> const RenderedView& { return stills[k % stills.size()]; };
  auto stillTarget = [&](size_t k) { return static_cast<int>(k % stills.size() / options.views); };
  auto frame = [&](size_t k) -> const RenderedView& { return sequence[k % sequence.size()]; };
  std::vector<PoseOutcome> ours8(stillSamples), ours10(stillSamples);
  std::vector<OrbResult> orbStill(stillSamples);
  std::vector<double> orbStillMs(stillSamples), trackMs(frameSamples), stepMs(frameSamples);
  std::vector<double> orbOneMs(frameSamples), orbAllMs(frameSamples);
  std::vector<char> steady(frameSamples), tracked(frameSamples), orbOneGood(frameSamples),
      orbAllGood(frameSamples);
  std::map<FrameStepper::Outcome, int> outcomes;  // over all passes
  std::map<FrameStepper::Stage, std::vector<double>> stageMs;
  {
    QuietStdout quiet;
    // 1. Recognition and initial pose on the still views.
    Tracker poseTracker;
    poseTracker.init(kFrameWidth, kFrameHeight, 0, small.database);
    for (size_t k = 0; k < stillSamples; ++k) {
      ours8[k] = recogniseAndPose(small.recognizer.get(), &poseTracker, still(k),
                                  photos[stillTarget(k)].name, camera);
    }
    for (size_t k = 0; k < stillSamples; ++k) {
      ours10[k] = recogniseAndPose(large.recognizer.get(), nullptr, still(k),
                                   photos[stillTarget(k)].name, camera);
    }
    for (size_t k = 0; k < stillSamples; ++k) {
      orbStillMs[k] = timeMs([&] { orbStill[k] = orb.recognise(still(k).frame, orbSmall); });
    }
    // 2. The tracker on the sequence, fresh for every pass; a call is
    // steady when the frame before was tracked.
    const std::string recognition = "{[{\"id\":\"" + photos[0].name + "\"}]}";
    std::unique_ptr<Tracker> tracker;
    for (size_t k = 0; k < frameSamples; ++k) {
      if (k % sequence.size() == 0) {
        tracker = std::make_unique<Tracker>();
        tracker->init(kFrameWidth, kFrameHeight, 0, small.database);
        tracker->setSearchThreads(options.searchThreads);
        tracker->setCoarseRefinement(options.coarseRefinement);
      }
      steady[k] = k % sequence.size() > 0 && tracked[k - 1];
      Trackable result;
      trackMs[k] = timeMs([&] {
        tracked[k] = tracker->track(frame(k).frame.pixels.data(), result, "", recognition) == 0;
      });
    }
    // 3. The stage machine on the sequence, fresh for every pass.
    std::unique_ptr<DefaultTrackingEngines> engines;
    std::unique_ptr<FrameStepper> stepper;
    for (size_t k = 0; k < frameSamples; ++k) {
      if (k % sequence.size() == 0) {
        engines = std::make_unique<DefaultTrackingEngines>(small.database, small.recognizer,
                                                           std::make_shared<Tracker>());
        engines->initTracker(kFrameWidth, kFrameHeight, 0);
        TrackingOptions tracking;
        tracking.searchThreads = options.searchThreads;
        tracking.refineCoarseMatches = options.coarseRefinement;
        engines->setTrackingOptions(tracking);
        stepper = std::make_unique<FrameStepper>(engines.get());
      }
      const FrameStepper::Stage stage = stepper->stage();
      Trackable result;
      stepMs[k] = timeMs([&] {
        ++outcomes[stepper->step(frame(k).frame.pixels.data(), kFrameWidth, kFrameHeight, 0,
                                 &result)];
      });
      stageMs[stage].push_back(stepMs[k]);
    }
    // The baseline on the sequence: against the one target and the 8.
    for (size_t k = 0; k < frameSamples; ++k) {
      OrbResult one, all;
      orbOneMs[k] = timeMs([&] { one = orb.recognise(frame(k).frame, orbOne); });
      orbAllMs[k] = timeMs([&] { all = orb.recognise(frame(k).frame, orbSmall); });
      orbOneGood[k] = orbGood(one, 0, frame(k));
      orbAllGood[k] = orbGood(all, 0, frame(k));
    }
  }

  // ---- Report ----
  // Recognition and initial pose together where both ran (a target was
  // named), beside the baseline on those same frames.
  Item combined("recognition + initial pose, 8 targets", 4.0);
  Item recognize8("  recognize alone, 8 targets");
  Item recognize10("  recognize alone, 10 targets", 0.0, 1.2);
  Item pose("  initial pose alone", 0.0, 2.5);
  std::vector<double> allFrames, poseFound, poseFailed;
  int right8 = 0, posed8 = 0, right10 = 0, orbRight = 0, orbPosed = 0;
  for (size_t k = 0; k < stillSamples; ++k) {
    const PoseOutcome& o = ours8[k];
    recognize8.ours.push_back(o.recognizeMs);
    recognize10.ours.push_back(ours10[k].recognizeMs);
    allFrames.push_back(o.recognizeMs + std::max(0.0, o.poseMs));
    if (o.poseMs >= 0.0) {
      combined.ours.push_back(o.recognizeMs + o.poseMs);
      combined.orb.push_back(orbStillMs[k]);
      pose.ours.push_back(o.poseMs);
      (o.posed ? poseFound : poseFailed).push_back(o.poseMs);
    }
    if (k >= stills.size()) continue;  // the counts of the first pass
    right8 += o.verdict == Verdict::kRight ? 1 : 0;
    posed8 += o.good() ? 1 : 0;
    right10 += ours10[k].verdict == Verdict::kRight ? 1 : 0;
    orbRight += orbStill[k].named == stillTarget(k) ? 1 : 0;
    orbPosed += orbGood(orbStill[k], stillTarget(k), still(k)) ? 1 : 0;
  }
  Item track("tracked frame (steady), 1 target", 20.0, 0.25);
  Item whole("whole frame, stage machine, 8 targets");
  int steadyTracked = 0, steadyOrbGood = 0, orbAllGoodCount = 0;
  for (size_t k = 0; k < frameSamples; ++k) {
    whole.ours.push_back(stepMs[k]);
    whole.orb.push_back(orbAllMs[k]);
    orbAllGoodCount += orbAllGood[k];
    if (!steady[k]) continue;
    track.ours.push_back(trackMs[k]);
    track.orb.push_back(orbOneMs[k]);
    steadyTracked += tracked[k];
    steadyOrbGood += orbOneGood[k];
  }

  const int passes = options.repeats;
  std::printf("Speed evaluation: targets of data/photos (8:");
  for (size_t i = 0; i < photos.size(); ++i) {
    std::printf("%s %s", i == kSmallDatabase ? "; 10 adds" : "", photos[i].name.c_str());
  }
  std::printf(
      ") in front of %s, %dx%d BGR frames (pixel format 0), %d passes, %s, %d search threads%s%s\n",
      background.name.c_str(), kFrameWidth, kFrameHeight, passes,
      options.cpu >= 0 ? ("pinned to CPU " + std::to_string(options.cpu)).c_str() : "unpinned",
      options.searchThreads,
      options.searchThreads > 0 && usableProcessorCount() == 1
          ? " (one processor: the tracking thread searches alone)"
          : "",
      options.coarseRefinement ? ", coarse refinement on" : "");
  std::printf(
      "Builder: %d training views, %d tracking-scoring views, seed %u; 10 targets trained and "
      "both databases built in %.1f s\n",
      options.build.trainingViews, options.build.trackingTrainingViews, options.seed, trainSeconds);
  std::printf("ORB-500 keypoints on the stored images:");
  for (const OrbTarget& t : orbTargets) std::printf(" %s %zu", t.name.c_str(), t.keypoints.size());
  std::printf("\n");
  std::printf(
      "1. %zu frontal views (%d per target of the 8): ours named the right target on %d (10 "
      "targets: %d), posed it within %.0f px on %d; ORB named it on %d, within %.0f px on %d\n",
      stills.size(), options.views, right8, right10, kGoodCornerErrorPx, posed8, orbRight,
      kGoodCornerErrorPx, orbPosed);
  std::printf(
      "   recognition + initial pose below: the frames where a target was named; on all frames "
      "(recognize alone where none was) median %.3f, mean %.3f ms\n",
      median(allFrames), mean(allFrames));
  std::printf(
      "   initial pose median %.3f ms when found (%zu calls; it then also builds the target's "
      "keyframe unless that target's is in place), %.3f ms when not (%zu)\n",
      median(poseFound), poseFound.size(), median(poseFailed), poseFailed.size());
  std::printf(
      "2. %zu-frame orbit of %s at 35 degrees tilt, a fresh tracker per pass: %zu steady calls "
      "per pass, %d of them tracked; ORB against %s alone within %.0f px on %d of those frames\n",
      sequence.size(), photos[0].name.c_str(), track.ours.size() / passes, steadyTracked / passes,
      photos[0].name.c_str(), kGoodCornerErrorPx, steadyOrbGood / passes);
  std::printf("3. the same sequence through FrameStepper, outcomes per pass:");
  for (const auto& entry : outcomes) {
    std::printf(" %s %d", outcomeName(entry.first), entry.second / passes);
  }
  std::printf("; median ms by stage:");
  const char* stageNames[] = {"recognising", "acquiring", "tracking"};
  for (const auto& entry : stageMs) {
    std::printf(" %s %.3f", stageNames[entry.first], median(entry.second));
  }
  std::printf("; ORB against the 8 posed %s within %.0f px on %d frames per pass\n",
              photos[0].name.c_str(), kGoodCornerErrorPx, orbAllGoodCount / passes);
  printItems({&combined, &recognize8, &recognize10, &pose, &track, &whole});
  std::printf("Total run time %.1f s\n", msSince(runStart) / 1e3);
  return 0;
}

}  // namespace
}  // namespace vornik

int main(int argc, char** argv) { return vornik::run(argc, argv); }
