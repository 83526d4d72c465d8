// Quality of databases built by vornik-mkdb, measured the way the library
// uses them: targets rendered by the toolkit's renderer under random views
// (seeds unrelated to the training), the recognizer's vote over the loaded
// mapping tables, and the initial pose from the stored tracking features.
//   mkdb_quality [--views N] [builder options as for vornik-mkdb] IMAGE...
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "builder/database_builder.h"
#include "builder/recognition_features.h"
#include "builder/view_homography.h"
#include "common/synthetic_view.h"
#include "database/ardb_mngr.h"
#include "features/feature_extractor.h"
#include "features/random.h"
#include "platform/clock.h"
#include "tracking/homography.h"
#include "tracking/initial_pose.h"

using namespace vornik;

namespace {

double uniform(Random& r, double lo, double hi) {
  return lo + (hi - lo) * (r.next() / 4294967296.0);
}

ViewParams randomView(Random& r) {
  ViewParams v;
  v.widthFraction = 0.15 * std::pow(1.0 / 0.15, uniform(r, 0, 1));
  v.tiltDeg = uniform(r, 0, 60);
  v.tiltDirectionDeg = uniform(r, 0, 360);
  v.rotationDeg = uniform(r, -180, 180);
  const double free = std::max(0.0, 1.0 - v.widthFraction) * 0.4;
  v.offsetX = uniform(r, -free, free);
  v.offsetY = uniform(r, -free, free);
  return v;
}

// Winner and its votes over the database's mapping tables, as the recognizer
// counts them.
std::pair<std::string, int> vote(ArdbMngr& db, const Image& grey, GradientDescriptor* gd) {
  const auto features = frameRecognitionFeatures(grey.pixels.data(), grey.width, grey.height, gd);
  std::map<std::string, int> votes;
  auto neg = db.getNegativeTable();
  auto pos = db.getPositiveTable();
  for (const auto& f : features) {
    const auto names = (f.polarity ? pos : neg)->find(f.key);
    for (const std::string& n : *names) ++votes[n];
  }
  std::string best;
  int count = 0;
  for (const auto& [n, c] : votes) {
    if (c > count) {
      best = n;
      count = c;
    }
  }
  return {best, count};
}

}  // namespace

int main(int argc, char** argv) {
  int testViews = 30;
  bool verbose = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "-v") {
      verbose = true;
    } else if (std::string(argv[i]) == "--test-views" && i + 1 < argc) {
      testViews = std::atoi(argv[++i]);
    } else {
      args.push_back(argv[i]);
    }
  }
  BuildOptions options;
  std::vector<TargetSpec> specs;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--views")
      options.trainingViews = std::atoi(args[++i].c_str());
    else if (a == "--max-keys")
      options.maxRecognitionKeys = std::atoi(args[++i].c_str());
    else if (a == "--max-tracking")
      options.maxTrackingFeatures = std::atoi(args[++i].c_str());
    else if (a == "--size")
      options.workingSize = std::atoi(args[++i].c_str());
    else {
      TargetSpec s;
      s.imagePath = a;
      s.targetName = fileStem(a);
      s.displayName = s.targetName;
      specs.push_back(s);
    }
  }
  const std::string dir = std::filesystem::temp_directory_path() / "mkdb_quality";
  std::filesystem::create_directories(dir);
  std::vector<BuiltTarget> built;
  std::string error;
  const int32_t t0 = processClockMs();
  if (!buildDatabase(specs, options, dir + "/q.db", nullptr, &built, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("build: %d ms for %zu targets\n", processClockMs() - t0, built.size());
  ArdbMngr db;
  db.setArdbAssetDirPath(dir);
  db.loadTrackerData(dir, {"q.db"});

  CameraModel camera;
  FeatureExtractor extractor(camera.width, camera.height, 0);
  GradientDescriptor gd;
  Random ransac(4242);
  int totalRec = 0, totalPose = 0, totalViews = 0, totalWrong = 0;
  int bandViews[3] = {0, 0, 0}, bandRec[3] = {0, 0, 0}, bandPose[3] = {0, 0, 0};
  for (const TargetSpec& spec : specs) {
    Random random(777 + 1000 * static_cast<uint32_t>(&spec - specs.data()));
    Image image;
    loadInputImage(spec.imagePath, &image, &error);
    std::vector<HessianGradientFeaturePtr> keys;
    float headerValue = 0.0f;
    db.readDescriptor(keys, headerValue, spec.targetName);
    std::vector<FeaturePtr> stored;
    int32_t tw = 0, th = 0;
    db.loadTargetFeatures(stored, tw, th, spec.targetName);
    uint8_t* pixels = nullptr;
    int32_t iw, ih, grey;
    db.loadTargetImage(pixels, iw, ih, grey, spec.targetName);
    Image target(iw, ih, grey ? 1 : 3);
    std::copy(pixels, pixels + target.pixels.size(), target.pixels.begin());
    delete[] pixels;
    int rec = 0, pose = 0, wrong = 0;
    double voteSum = 0;
    for (int v = 0; v < testViews; ++v) {
      const ViewParams params = randomView(random);
      const PoseMatrix p = poseFromView(params, camera);
      Image clutter = makeClutter(camera.width, camera.height, 100000 + v);
      ViewOptions o;
      o.camera = camera;
      o.background = v % 2 ? &clutter : nullptr;
      o.noiseSigma = uniform(random, 0, 4);
      o.blur = BlurKind::kGaussian;
      o.blurRadius = uniform(random, 0.3, 1.0);
      o.seed = v + 1;
      RenderedView view;
      if (!renderView(target, p, o, &view, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
      }
      const Image g = toGray(view.frame);
      const auto [name, votes] = vote(db, g, &gd);
      voteSum += votes;
      const int band = params.widthFraction < 0.3 ? 0 : (params.widthFraction < 0.6 ? 1 : 2);
      ++bandViews[band];
      if (votes > 4 && name == spec.targetName) ++bandRec[band];
      if (votes > 4 && name == spec.targetName) ++rec;
      if (votes > 4 && name != spec.targetName) ++wrong;
      auto found = extractor.extract(view.frame.pixels.data());
      auto described = found->describe();
      MatrixPtr poseMatrix;
      const int32_t code = estimateInitialPose(stored, tw, described, camera.width, camera.height,
                                               ransac, &poseMatrix);
      int pairs = 0, correct = 0, tight = 0;
      {
        Homography toFrame = targetToFrameHomography(p, tw, th, camera);
        for (size_t i = 0; i < stored.size(); ++i) {
          const int j = stored[i]->matchIndex;
          if (j < 0 || described[j]->matchIndex != static_cast<int>(i)) continue;
          ++pairs;
          double u, w;
          applyHomography(toFrame, stored[i]->x + (tw >> 1), (th >> 1) - stored[i]->y, &u, &w);
          const double e = std::hypot(u - described[j]->x, w - described[j]->y);
          if (e < 8) ++correct;
          if (e < 0.02 * params.widthFraction * camera.width) ++tight;
        }
      }
      int trueInliers = 0;
      {
        std::vector<FeaturePtr> flat;
        for (size_t i = 0; i < stored.size(); ++i) {
          const int j = stored[i]->matchIndex;
          if (j < 0 || described[j]->matchIndex != static_cast<int>(i)) continue;
          flat.push_back(stored[i]);
          flat.push_back(described[j]);
        }
        NormalizationParams np;
        const auto norm = normalizePairs(flat, std::sqrt(2.0), &np);
        Homography toFrame = targetToFrameHomography(p, tw, th, camera);
        for (const auto& q : norm) {
          // back to pixels, through the truth, forward to normalised frame
          const double tx = q.tx / std::sqrt(2.0) * np.devTx + np.meanTx;
          const double ty = q.ty / std::sqrt(2.0) * np.devTy + np.meanTy;
          double u, w;
          applyHomography(toFrame, tx + (tw >> 1), (th >> 1) - ty, &u, &w);
          const double nu = (u - np.meanFx) / np.devFx * std::sqrt(2.0);
          const double nw = (w - np.meanFy) / np.devFy * std::sqrt(2.0);
          if ((nu - q.fx) * (nu - q.fx) + (nw - q.fy) * (nw - q.fy) < 0.01) ++trueInliers;
        }
      }
      if (verbose) std::printf("true-inliers %3d ", trueInliers);
      if (verbose)
        std::printf(
            "  view %2d width %.2f tilt %2.0f: votes %2d %-10s pose code %2d pairs %3d correct %3d "
            "tight %3d\n",
            v, params.widthFraction, params.tiltDeg, votes, name.c_str(), code, pairs, correct,
            tight);
      if (code == 0) {
        // Compare the projected target centre and corners with the truth.
        PoseMatrix est{};
        for (int r = 0; r < 4; ++r)
          for (int c = 0; c < 4; ++c) est[4 * r + c] = (*poseMatrix)(r, c);
        const FrameTruth a = computeFrameTruth(est, tw, th, camera);
        const FrameTruth b = view.truth;
        double worst = 0;
        for (int k = 0; k < 8; k += 2) {
          worst = std::max(
              worst, std::hypot(a.corners[k] - b.corners[k], a.corners[k + 1] - b.corners[k + 1]));
        }
        if (worst < 0.05 * params.widthFraction * camera.width + 3.0) {
          ++pose;
          ++bandPose[band];
        }
      }
    }
    std::printf("%-12s rec %2d/%d (mean votes %.1f, wrong %d)  pose %2d/%d  [%d keys, %d trk]\n",
                spec.targetName.c_str(), rec, testViews, voteSum / testViews, wrong, pose,
                testViews, static_cast<int>(keys.size()), static_cast<int>(stored.size()));
    totalRec += rec;
    totalPose += pose;
    totalWrong += wrong;
    totalViews += testViews;
  }
  // Frames without any target.
  int falsePositives = 0;
  const int emptyFrames = 40;
  for (int v = 0; v < emptyFrames; ++v) {
    Image clutter = makeClutter(camera.width, camera.height, 200000 + v);
    const Image g = toGray(clutter);
    const auto [name, votes] = vote(db, g, &gd);
    if (votes > 4) ++falsePositives;
  }
  for (int b = 0; b < 3; ++b) {
    std::printf("width %s: recognised %.1f%%, pose %.1f%% of %d views\n",
                b == 0 ? "0.15-0.3" : (b == 1 ? "0.3-0.6 " : "0.6-1.0 "),
                100.0 * bandRec[b] / std::max(1, bandViews[b]),
                100.0 * bandPose[b] / std::max(1, bandViews[b]), bandViews[b]);
  }
  std::printf("total: recognised %.1f%%, wrong target %.1f%%, pose %.1f%%, false positives %d/%d\n",
              100.0 * totalRec / totalViews, 100.0 * totalWrong / totalViews,
              100.0 * totalPose / totalViews, falsePositives, emptyFrames);
  return 0;
}
