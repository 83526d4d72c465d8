// Tracking evaluation: builds a database of a target with the database
// builder, renders camera sequences and feeds them to the tracker frame by
// frame with the recognition text given directly. Prints per sequence the
// share of in-view frames tracked within 5 px (of all, and of those after
// the first such pose), the median and 90th-percentile corner error, the
// target widths where tracking held, the jitter of still views, the
// re-acquisition delay and track times.
//
//   tracking_eval [--frames N] [--training-views N] [--noise SIGMA] [--verbose 1]
//                 [--sequences a,b,..] [--target IMG] [--camera 1] [--range N]
//                 [--coarse-refinement 1] [--acquisition 1] [--coarse-batches N]
//                 [--camera-seed S] [--keyframe-fine-below N] [--vote-window N]
//
// --camera 1 renders with a handheld camera's effects (defocus, motion blur,
// uneven light, vignetting, sensor noise, Bayer mosaic and demosaic, JPEG)
// over a background photo instead of the plain renderer over clutter, each
// sequence with its own strengths unless --camera-seed S draws one camera
// for all;
// --range N lets the tracker take templates from N keyframe levels beyond
// its base (0, the default, is the described tracker); --coarse-refinement 1
// searches the coarse stage's keyframe matches again on their own levels;
// --acquisition 1 turns on every opt-in of the initial pose (150 features
// per layer, refinement, 300 rescue samples, the enlarged retry);
// --coarse-batches N lets the coarse stage search up to N batches of points;
// --keyframe-fine-below N takes fine templates from the keyframe below N
// coarse inliers; --vote-window N runs the recognizer on the frames that
// need an initial pose and gives the tracker its votes for the window
// retry of that enlargement (the recognition text stays the given one). The
// recognizer names a far target only with a database trained on many views:
// use --training-views 640, the builder's default, with it.
// A frame counts as in view where three quarters of the target are inside
// it (a square target wider than three quarters of the frame never fits).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "builder/database_builder.h"
#include "common/camera_simulation.h"
#include "common/pose_sequence.h"
#include "common/synthetic_view.h"
#include "database/ardb_mngr.h"
#include "manager/trackable.h"
#include "quiet_stdout.h"
#include "recognition/recognizer.h"
#include "tracking/tracker.h"

namespace vornik {
namespace {

constexpr double kGoodPixels = 5.0;
constexpr double kScoredShare = 0.75;

struct Options {
  int frames = 150;
  int trainingViews = 16;
  double noise = 2.0;
  bool verbose = false;  // one line per frame
  std::vector<SequenceKind> sequences = {
      SequenceKind::kOrbit, SequenceKind::kApproach, SequenceKind::kShake,
      SequenceKind::kPan,   SequenceKind::kStatic,   SequenceKind::kReenter,
      SequenceKind::kZoom,  SequenceKind::kRecede,   SequenceKind::kNear};
  std::string target = std::string(VORNIK_DATA_DIR) + "/sample_target.jpg";
  bool camera = false;
  int range = 0;
  bool coarseRefinement = false;
  int coarseBatches = 1;
  int keyframeFineBelow = 0;
  int cameraSeed = -1;  // one camera for every sequence; -1: each its own
  bool acquisition = false;
  int voteWindow = 0;  // the initial pose's vote window (recognizer run on initial frames)
};

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return NAN;
  const size_t k = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
  std::nth_element(values.begin(), values.begin() + k, values.end());
  return values[k];
}

double median(std::vector<double> values) { return percentile(std::move(values), 0.5); }

// Frame positions of the four target corners (plane units, Y up) under a
// row-major camera-from-target pose.
std::array<double, 8> projectCorners(const double pose[16], double aspect, const CameraModel& cam) {
  std::array<double, 8> out{};
  const double plane[4][2] = {
      {-0.5, 0.5 * aspect}, {0.5, 0.5 * aspect}, {0.5, -0.5 * aspect}, {-0.5, -0.5 * aspect}};
  for (int i = 0; i < 4; ++i) {
    const double X = plane[i][0], Y = plane[i][1];
    const double x = pose[0] * X + pose[1] * Y + pose[3];
    const double y = pose[4] * X + pose[5] * Y + pose[7];
    const double z = pose[8] * X + pose[9] * Y + pose[11];
    out[2 * i] = cam.focal() * x / z + cam.cx();
    out[2 * i + 1] = cam.focal() * y / z + cam.cy();
  }
  return out;
}

double cornerError(const std::array<double, 8>& a, const std::array<double, 8>& b) {
  double worst = 0;
  for (int i = 0; i < 4; ++i)
    worst = std::max(worst, std::hypot(a[2 * i] - b[2 * i], a[2 * i + 1] - b[2 * i + 1]));
  return worst;
}

// Share of the target's area that lies inside the frame, from a grid of
// plane points: a square target wider than three quarters of a 4:3 frame
// never fits whole, yet the user still sees (and tracks) most of it.
double shareInFrame(const double pose[16], double aspect, const CameraModel& cam) {
  constexpr int kGrid = 24;
  int inside = 0;
  for (int j = 0; j < kGrid; ++j) {
    for (int i = 0; i < kGrid; ++i) {
      const double X = (i + 0.5) / kGrid - 0.5, Y = ((j + 0.5) / kGrid - 0.5) * aspect;
      const double x = pose[0] * X + pose[1] * Y + pose[3];
      const double y = pose[4] * X + pose[5] * Y + pose[7];
      const double z = pose[8] * X + pose[9] * Y + pose[11];
      if (z <= 0) continue;
      const double u = cam.focal() * x / z + cam.cx(), v = cam.focal() * y / z + cam.cy();
      if (u >= -0.5 && u <= cam.width - 0.5 && v >= -0.5 && v <= cam.height - 0.5) ++inside;
    }
  }
  return static_cast<double>(inside) / (kGrid * kGrid);
}

// Mean over the eight corner coordinates of their standard deviation.
double jitterOf(const std::vector<std::array<double, 8>>& corners) {
  if (corners.size() < 2) return NAN;
  double jitter = 0;
  for (int k = 0; k < 8; ++k) {
    double mean = 0, var = 0;
    for (const auto& c : corners) mean += c[k];
    mean /= corners.size();
    for (const auto& c : corners) var += (c[k] - mean) * (c[k] - mean);
    jitter += std::sqrt(var / corners.size());
  }
  return jitter / 8;
}

int run(const Options& options) {
  const std::string dir = "/tmp/vornik_tracking_eval_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  TargetSpec targetSpec;
  targetSpec.imagePath = options.target;
  targetSpec.targetName = "target";
  targetSpec.displayName = "Target";
  BuildOptions build;
  build.trainingViews = options.trainingViews;
  std::vector<BuiltTarget> built;
  std::string error;
  if (!buildDatabase({targetSpec}, build, dir + "/eval.db", nullptr, &built, &error)) {
    std::fprintf(stderr, "database: %s\n", error.c_str());
    return 1;
  }
  auto database = std::make_shared<ArdbMngr>();
  database->setArdbAssetDirPath(dir);
  database->loadTrackerData(dir + "/appdata", {"eval.db"});

  Image target;
  if (!readImage(options.target, &target, &error)) {
    std::fprintf(stderr, "target: %s\n", error.c_str());
    return 1;
  }
  const double aspect = static_cast<double>(target.height) / target.width;
  const Image clutter = makeClutter(640, 480, 7);
  ViewOptions view;
  view.background = &clutter;
  view.noiseSigma = options.noise;
  // A photo the target is not, behind it.
  Image photo;
  const std::string photoPath = std::string(VORNIK_DATA_DIR) + "/photos/gravel.jpg";
  if (options.camera && !readImage(photoPath, &photo, &error)) {
    std::fprintf(stderr, "background: %s\n", error.c_str());
    return 1;
  }
  const std::string recognition = "{\"id\":\"target\"}";

  std::printf("target %s, %s frames, keyframe level range %d\n", options.target.c_str(),
              options.camera ? "camera-effect" : "plain", options.range);
  std::printf("%-9s %6s %7s %7s %8s %7s %7s %7s %7s %7s %8s %8s\n", "sequence", "inview", "within5",
              "share", "after1st", "median", "p90", "first_w", "min_w", "max_w", "track_ms",
              "init_ms");
  std::vector<double> allTrack;
  for (SequenceKind kind : options.sequences) {
    Tracker tracker;
    tracker.init(640, 480, 0, database);
    tracker.setKeyframeLevelRange(options.range);
    tracker.setCoarseRefinement(options.coarseRefinement);
    tracker.setCoarseBatches(options.coarseBatches);
    tracker.setKeyframeFineBelow(options.keyframeFineBelow);
    InitialPoseOptions pose;
    if (options.acquisition) {
      pose.featuresPerLayer = 150;
      pose.refine = true;
      pose.ransacRescueIterations = 300;
      pose.retryEnlarged = true;
    }
    pose.voteWindowEnlargement = options.voteWindow;
    tracker.setInitialPoseOptions(pose);
    Recognizer recognizer;
    recognizer.init(database);
    const uint32_t cameraSeed = options.cameraSeed >= 0 ? static_cast<uint32_t>(options.cameraSeed)
                                                        : 77u + static_cast<uint32_t>(kind);
    CameraEffects effects = randomCameraEffects(cameraSeed, view.camera);
    effects.background = &photo;
    // The library's camera model is a pinhole: lens distortion would be an
    // error no tracker removes, so it is left out here.
    effects.radialK1 = 0.0;
    if (options.verbose && options.camera) {
      std::printf("  %s camera: defocus %.2f motion %.2f px, noise %.2f + %.2f, jpeg %d\n",
                  sequenceKindName(kind), effects.defocusSigma, effects.motionLength,
                  effects.readNoise, effects.shotNoise, effects.jpegQuality);
    }
    int inView = 0, good = 0, afterFirst = 0, goodAfterFirst = 0, failuresInRow = 0;
    double firstWidth = NAN, minWidth = NAN, maxWidth = NAN;
    std::vector<double> errors, trackMs, initMs;
    // Corner errors by the target's width, for the sequences that change it.
    constexpr double kWidthBands[] = {0.10, 0.15, 0.25, 0.40, 0.60, 0.901};
    constexpr int kBands = static_cast<int>(std::size(kWidthBands)) - 1;
    std::vector<double> bandErrors[kBands];
    std::vector<std::array<double, 8>> stillCorners;
    int outAt = -1, backAt = -1, reacquiredAt = -1;
    for (int i = 0; i < options.frames; ++i) {
      const ViewParams params = sequenceView(kind, i, options.frames);
      const PoseMatrix truthPose = poseFromView(params, view.camera);
      RenderedView frame;
      bool rendered;
      if (options.camera) {
        effects.seed = 5000u + static_cast<uint32_t>(i);
        rendered = renderCameraView(&target, truthPose, effects, &frame, &error);
      } else {
        view.seed = 1000 + i;
        rendered = renderView(target, truthPose, view, &frame, &error);
      }
      if (!rendered) {
        std::fprintf(stderr, "render: %s\n", error.c_str());
        return 1;
      }
      const bool initial = tracker.keyframeTargetId().empty();
      Trackable result;
      int code;
      const auto start = std::chrono::steady_clock::now();
      {
        QuietStdout quiet;
        if (initial && options.voteWindow > 0) {
          // The window needs the recognizer's votes; the recognition text
          // stays the given one, so frames it misses still get the whole-frame pose.
          std::string text;
          const bool named =
              recognizer.recognize(640, 480, 0, frame.frame.pixels.data(), text, "") == kRecognized;
          tracker.setVoteRegion(named ? recognizer.winnerRegion() : VoteRegion());
        }
        code = tracker.track(frame.frame.pixels.data(), result, "", recognition);
      }
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      (initial ? initMs : trackMs).push_back(ms);
      // The AR manager's rule: a second failure in a row forces a new initial pose.
      failuresInRow = code == kTrackOk ? 0 : failuresInRow + 1;
      if (failuresInRow >= 2) tracker.setKeyframeTargetId("");

      // Scored where at least three quarters of the target are in the frame.
      const bool visible = frame.truth.fullyInView ||
                           shareInFrame(truthPose.data(), aspect, view.camera) >= kScoredShare;
      if (options.verbose) {
        std::printf("  %s %3d visible %d width %.3f code %2d depth %.3f ms %.2f",
                    sequenceKindName(kind), i, visible ? 1 : 0, params.widthFraction, code,
                    truthPose[11], ms);
      }
      if (!visible && outAt < 0 && i > 0) outAt = i;
      if (visible && outAt >= 0 && backAt < 0) backAt = i;
      if (options.verbose && (!visible || code != kTrackOk)) std::printf("\n");
      if (!visible) continue;
      ++inView;
      if (good > 0) ++afterFirst;
      if (code != kTrackOk) continue;
      double pose[16];
      const float* p = result.getPose();
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) pose[4 * r + c] = p[4 * c + r];
      for (int r = 0; r < 3; ++r) pose[4 * r + 3] /= result.getWidth();
      const auto reported = projectCorners(pose, aspect, view.camera);
      const double e = cornerError(reported, projectCorners(truthPose.data(), aspect, view.camera));
      errors.push_back(e);
      for (int b = 0; b < kBands; ++b) {
        if (params.widthFraction >= kWidthBands[b] && params.widthFraction < kWidthBands[b + 1])
          bandErrors[b].push_back(e);
      }
      if (options.verbose) std::printf(" error %.2f px\n", e);
      if (e <= kGoodPixels) {
        if (good == 0) {
          firstWidth = params.widthFraction;
          ++afterFirst;
        }
        ++good;
        ++goodAfterFirst;
        minWidth =
            std::isnan(minWidth) ? params.widthFraction : std::min(minWidth, params.widthFraction);
        maxWidth =
            std::isnan(maxWidth) ? params.widthFraction : std::max(maxWidth, params.widthFraction);
        if (backAt >= 0 && reacquiredAt < 0) reacquiredAt = i;
      }
      if (kind == SequenceKind::kStatic || kind == SequenceKind::kNear) {
        stillCorners.push_back(reported);
      }
    }
    std::printf("%-9s %6d %7d %6.1f%% %7.1f%% %5.2fpx %5.2fpx %7.3f %7.3f %7.3f %8.3f %8.3f\n",
                sequenceKindName(kind), inView, good, inView > 0 ? 100.0 * good / inView : 0.0,
                afterFirst > 0 ? 100.0 * goodAfterFirst / afterFirst : 0.0, median(errors),
                percentile(errors, 0.9), firstWidth, minWidth, maxWidth, median(trackMs),
                median(initMs));
    allTrack.insert(allTrack.end(), trackMs.begin(), trackMs.end());
    if (kind == SequenceKind::kApproach || kind == SequenceKind::kZoom ||
        kind == SequenceKind::kRecede) {
      std::printf("  %s median by width:", sequenceKindName(kind));
      for (int b = 0; b < kBands; ++b) {
        std::printf(" %.2f-%.2f %.2fpx (%zu)", kWidthBands[b], std::min(kWidthBands[b + 1], 0.9),
                    median(bandErrors[b]), bandErrors[b].size());
      }
      std::printf("\n");
    }
    if (stillCorners.size() > 1) {
      std::printf("  %s jitter (mean corner coordinate deviation): %.3f px\n",
                  sequenceKindName(kind), jitterOf(stillCorners));
    }
    if (kind == SequenceKind::kReenter) {
      if (backAt < 0)
        std::printf("  re-acquisition: the target never left and came back\n");
      else if (reacquiredAt < 0)
        std::printf("  re-acquisition: not re-acquired (back in view at frame %d)\n", backAt);
      else
        std::printf(
            "  re-acquisition: back in view at frame %d, tracked within 5 px at frame %d (%d "
            "frames)\n",
            backAt, reacquiredAt, reacquiredAt - backAt);
    }
  }
  std::printf("median progressive track time over all sequences: %.3f ms (%zu calls)\n",
              median(allTrack), allTrack.size());
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace
}  // namespace vornik

int main(int argc, char** argv) {
  vornik::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(
          stderr,
          "usage: tracking_eval [--frames N] [--training-views N] [--noise SIGMA] [--verbose 1]\n"
          "                     [--sequences a,b,..] [--target IMG] [--camera 1] [--range N]\n"
          "                     [--coarse-refinement 1] [--acquisition 1] [--coarse-batches N]\n"
          "                     [--camera-seed S] [--keyframe-fine-below N] [--vote-window N]\n");
      return 2;
    }
    if (arg == "--frames") {
      options.frames = std::atoi(argv[++i]);
    } else if (arg == "--training-views") {
      options.trainingViews = std::atoi(argv[++i]);
    } else if (arg == "--verbose") {
      options.verbose = std::atoi(argv[++i]) != 0;
    } else if (arg == "--noise") {
      options.noise = std::atof(argv[++i]);
    } else if (arg == "--sequences") {
      options.sequences.clear();
      std::stringstream list(argv[++i]);
      std::string name;
      while (std::getline(list, name, ',')) {
        vornik::SequenceKind kind;
        if (!vornik::parseSequenceKind(name, &kind)) {
          std::fprintf(stderr, "unknown sequence %s\n", name.c_str());
          return 2;
        }
        options.sequences.push_back(kind);
      }
    } else if (arg == "--target") {
      options.target = argv[++i];
    } else if (arg == "--camera") {
      options.camera = std::atoi(argv[++i]) != 0;
    } else if (arg == "--coarse-refinement") {
      options.coarseRefinement = std::atoi(argv[++i]) != 0;
    } else if (arg == "--acquisition") {
      options.acquisition = std::atoi(argv[++i]) != 0;
    } else if (arg == "--keyframe-fine-below") {
      options.keyframeFineBelow = std::atoi(argv[++i]);
    } else if (arg == "--camera-seed") {
      options.cameraSeed = std::max(0, std::atoi(argv[++i]));
    } else if (arg == "--coarse-batches") {
      options.coarseBatches = std::atoi(argv[++i]);
    } else if (arg == "--vote-window") {
      options.voteWindow = std::atoi(argv[++i]);
    } else if (arg == "--range") {
      options.range = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  if (options.frames < 2) {
    std::fprintf(stderr, "--frames must be at least 2\n");
    return 2;
  }
  return vornik::run(options);
}
