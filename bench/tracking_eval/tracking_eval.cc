// Tracking evaluation: builds a database of the sample target with the
// database builder, renders the synthetic camera sequences and feeds them to
// the tracker frame by frame with the recognition text given directly.
// Prints per sequence the share of in-view frames tracked within 5 px, the
// jitter of a static view, the re-acquisition delay and track times.
//
//   tracking_eval [--frames N] [--training-views N] [--noise SIGMA] [--verbose 1]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "builder/database_builder.h"
#include "common/pose_sequence.h"
#include "common/synthetic_view.h"
#include "database/ardb_mngr.h"
#include "manager/trackable.h"
#include "quiet_stdout.h"
#include "tracking/tracker.h"

namespace vornik {
namespace {

constexpr double kGoodPixels = 5.0;

struct Options {
  int frames = 150;
  int trainingViews = 16;
  double noise = 2.0;
  bool verbose = false;  // one line per frame
};

double median(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

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

int run(const Options& options) {
  const std::string dir = "/tmp/vornik_tracking_eval_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string targetPath = std::string(VORNIK_DATA_DIR) + "/sample_target.jpg";
  TargetSpec targetSpec;
  targetSpec.imagePath = targetPath;
  targetSpec.targetName = "astro";
  targetSpec.displayName = "Astronaut";
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
  if (!readImage(targetPath, &target, &error)) {
    std::fprintf(stderr, "target: %s\n", error.c_str());
    return 1;
  }
  const double aspect = static_cast<double>(target.height) / target.width;
  const Image clutter = makeClutter(640, 480, 7);
  ViewOptions view;
  view.background = &clutter;
  view.noiseSigma = options.noise;
  const std::string recognition = "{\"id\":\"astro\"}";

  std::printf("%-9s %7s %8s %9s %8s %10s %10s\n", "sequence", "inview", "within5", "share",
              "median", "track_ms", "init_ms");
  std::vector<double> allTrack;
  for (SequenceKind kind : {SequenceKind::kOrbit, SequenceKind::kApproach, SequenceKind::kShake,
                            SequenceKind::kPan, SequenceKind::kStatic, SequenceKind::kReenter}) {
    Tracker tracker;
    tracker.init(640, 480, 0, database);
    int inView = 0, good = 0, failuresInRow = 0;
    std::vector<double> errors, trackMs, initMs;
    std::vector<std::array<double, 8>> staticCorners;
    int outAt = -1, backAt = -1, reacquiredAt = -1;
    for (int i = 0; i < options.frames; ++i) {
      view.seed = 1000 + i;
      const PoseMatrix truthPose = poseFromView(sequenceView(kind, i, options.frames), view.camera);
      RenderedView frame;
      if (!renderView(target, truthPose, view, &frame, &error)) {
        std::fprintf(stderr, "render: %s\n", error.c_str());
        return 1;
      }
      const bool initial = tracker.keyframeTargetId().empty();
      Trackable result;
      int code;
      const auto start = std::chrono::steady_clock::now();
      {
        QuietStdout quiet;
        code = tracker.track(frame.frame.pixels.data(), result, "", recognition);
      }
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      (initial ? initMs : trackMs).push_back(ms);
      // The AR manager's rule: a second failure in a row forces a new initial pose.
      failuresInRow = code == kTrackOk ? 0 : failuresInRow + 1;
      if (failuresInRow >= 2) tracker.setKeyframeTargetId("");

      const bool visible = frame.truth.fullyInView;
      if (options.verbose) {
        std::printf("  %s %3d visible %d code %2d depth %.3f ms %.2f", sequenceKindName(kind), i,
                    visible ? 1 : 0, code, truthPose[11], ms);
      }
      if (!visible && outAt < 0 && i > 0) outAt = i;
      if (visible && outAt >= 0 && backAt < 0) backAt = i;
      if (options.verbose && (!visible || code != kTrackOk)) std::printf("\n");
      if (!visible) continue;
      ++inView;
      if (code != kTrackOk) continue;
      double pose[16];
      const float* p = result.getPose();
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) pose[4 * r + c] = p[4 * c + r];
      for (int r = 0; r < 3; ++r) pose[4 * r + 3] /= result.getWidth();
      const auto reported = projectCorners(pose, aspect, view.camera);
      const double e = cornerError(reported, projectCorners(truthPose.data(), aspect, view.camera));
      errors.push_back(e);
      if (options.verbose) std::printf(" error %.2f px\n", e);
      if (e <= kGoodPixels) {
        ++good;
        if (backAt >= 0 && reacquiredAt < 0) reacquiredAt = i;
      }
      if (kind == SequenceKind::kStatic) staticCorners.push_back(reported);
    }
    std::printf("%-9s %7d %8d %8.1f%% %7.2fpx %10.3f %10.3f\n", sequenceKindName(kind), inView,
                good, inView > 0 ? 100.0 * good / inView : 0.0, median(errors), median(trackMs),
                median(initMs));
    allTrack.insert(allTrack.end(), trackMs.begin(), trackMs.end());
    if (kind == SequenceKind::kStatic && staticCorners.size() > 1) {
      double jitter = 0;
      for (int k = 0; k < 8; ++k) {
        double mean = 0, var = 0;
        for (const auto& c : staticCorners) mean += c[k];
        mean /= staticCorners.size();
        for (const auto& c : staticCorners) var += (c[k] - mean) * (c[k] - mean);
        jitter += std::sqrt(var / staticCorners.size());
      }
      std::printf("  static jitter (mean corner coordinate deviation): %.3f px\n", jitter / 8);
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
          "usage: tracking_eval [--frames N] [--training-views N] [--noise SIGMA] [--verbose 1]\n");
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
