// Recognition evaluation: builds databases of 1, 10 and 50 targets from the
// bundled photos (whole photos, grid crops and mirror images), renders
// camera views of them with the toolkit and counts how often the recognizer
// names the right target, a wrong one, or any target on frames that show
// none. Figures are broken down by tilt and by the target's width in the
// frame; recognize is timed per call (wall clock and thread CPU time).
//
//   recognition_eval [--large] [--views N] [--csv FILE] [--cache DIR] [--seed S]
//                    [--max-keys N] [--training-views N] [--budget VOTES] [--variants]
//
// The last three set the builder's options of the same names (most keys per
// target, random training views, stray votes allowed per target-free frame);
// --variants counts the keys one orientation bin over in training.
//
// The default run renders 12 target views and 12 target-free views per tilt
// and width class and database; --large renders 48. Building the 60 targets
// takes about a minute and a half of CPU time; --cache DIR keeps the group
// files there so that later runs skip the build.
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

#include <time.h>

#include "builder/database_builder.h"
#include "builder/recognition_features.h"
#include "builder/target_builder.h"
#include "common/image_io.h"
#include "common/synthetic_view.h"
#include "common/view_geometry.h"
#include "database/ardb_mngr.h"
#include "recognition/recognizer.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;
constexpr int kTiltBins = 3;
constexpr int kWidthBins = 3;
const double kTiltEdges[kTiltBins + 1] = {0.0, 20.0, 40.0, 60.0};
const double kWidthEdges[kWidthBins + 1] = {0.15, 0.30, 0.60, 1.00};
const char* const kTiltNames[kTiltBins] = {"0-20", "20-40", "40-60"};
const char* const kWidthNames[kWidthBins] = {"15-30", "30-60", "60-100"};

struct Options {
  BuildOptions build;  // training of every target
  int viewsPerCell = 12;
  std::string csvPath = "recognition_eval.csv";
  std::string cacheDir;
  uint32_t seed = 7;
};

struct EvalTarget {
  std::string name;
  std::string source;  // photo the content comes from
  Image image;
};

Image crop(const Image& in, int x0, int y0, int w, int h) {
  Image out(w, h, in.channels);
  const size_t rowBytes = static_cast<size_t>(w) * in.channels;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = in.row(y0 + y) + static_cast<size_t>(x0) * in.channels;
    std::copy(src, src + rowBytes, out.row(y));
  }
  return out;
}

Image mirror(const Image& in) {
  Image out(in.width, in.height, in.channels);
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      for (int c = 0; c < in.channels; ++c) {
        out.row(y)[x * in.channels + c] = in.row(y)[(in.width - 1 - x) * in.channels + c];
      }
    }
  }
  return out;
}

bool loadPhoto(const std::string& name, Image* image) {
  std::string error;
  const std::string path = std::string(VORNIK_DATA_DIR) + "/photos/" + name + ".jpg";
  if (!readImage(path, image, &error)) {
    std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  return true;
}

// Region (column, row) of a cols x rows grid over the image.
Image gridCrop(const Image& in, int cols, int rows, int index) {
  const int w = in.width / cols;
  const int h = in.height / rows;
  return crop(in, (index % cols) * w, (index / cols) * h, w, h);
}

// Two target sets. Entries 0 .. 9 (the 1- and 10-target databases, the
// bundled sample target first): six whole photos and four mirror images.
// Entries 10 .. 59 (the 50-target database): grid crops of seven photos and
// mirror images of most of them, so no two targets share a region. The
// deep-field photo is no target: its stars are one blob repeated, which no
// key can tell apart, and it serves as a target-free scene instead.
bool makeTargets(std::vector<EvalTarget>* targets) {
  const char* const names[] = {"astronaut", "camera", "chelsea", "coffee",
                               "rocket",    "text",   "retina"};
  std::vector<Image> photos;
  for (const char* name : names) {
    Image image;
    if (!loadPhoto(name, &image)) return false;
    photos.push_back(std::move(image));
  }
  auto add = [&](const std::string& name, const std::string& source, Image image) {
    targets->push_back(EvalTarget{name, source, std::move(image)});
  };
  for (int i = 0; i < 6; ++i) add(names[i], names[i], photos[i]);
  for (int i : {0, 1, 3, 4}) add(std::string(names[i]) + "_m", names[i], mirror(photos[i]));

  // Grid per photo: astronaut, camera and retina 2 x 2; coffee and rocket
  // 3 x 2; chelsea and text 2 x 1.
  const int cols[] = {2, 2, 2, 3, 3, 2, 2};
  const int rows[] = {2, 2, 1, 2, 2, 1, 2};
  std::vector<EvalTarget> crops;
  for (int i = 0; i < 7; ++i) {
    for (int c = 0; c < cols[i] * rows[i]; ++c) {
      crops.push_back(EvalTarget{std::string(names[i]) + "_c" + std::to_string(c), names[i],
                                 gridCrop(photos[i], cols[i], rows[i], c)});
    }
  }
  const size_t cropCount = crops.size();
  for (size_t c = 0; c < cropCount && crops.size() < 50; ++c) {
    crops.push_back(EvalTarget{crops[c].name + "_m", crops[c].source, mirror(crops[c].image)});
  }
  for (EvalTarget& t : crops) targets->push_back(std::move(t));
  return targets->size() == 60;
}

// Indices of the targets of the database with `count` targets.
std::vector<size_t> membersOf(size_t count) {
  std::vector<size_t> members;
  const size_t first = count == 50 ? 10 : 0;
  for (size_t i = 0; i < count; ++i) members.push_back(first + i);
  return members;
}

// Trains all targets, two at a time. The recognition keys are chosen per
// database afterwards, as the builder does for one batch.
bool trainAll(const std::vector<EvalTarget>& targets, const BuildOptions& build,
              std::vector<TrainedTarget>* trained, std::vector<BuiltTarget>* untouched) {
  trained->clear();
  trained->resize(targets.size());
  std::vector<std::string> errors(targets.size());
  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  auto worker = [&] {
    for (size_t i = next++; i < targets.size(); i = next++) {
      TargetSpec spec;
      spec.targetName = targets[i].name;
      spec.displayName = targets[i].name;
      if (!trainTarget(spec, targets[i].image, build, &(*trained)[i], &errors[i])) {
        if (errors[i].empty()) errors[i] = "training failed";
        continue;
      }
      std::fprintf(stderr, "\rtrained %zu of %zu targets", ++done, targets.size());
    }
  };
  std::thread other(worker);
  worker();
  other.join();
  std::fprintf(stderr, "\n");
  for (size_t i = 0; i < targets.size(); ++i) {
    if (!errors[i].empty()) {
      std::fprintf(stderr, "training %s failed: %s\n", targets[i].name.c_str(), errors[i].c_str());
      return false;
    }
  }
  // finishTarget takes the built entries over; each target may go into
  // more than one database.
  untouched->clear();
  for (const TrainedTarget& t : *trained) untouched->push_back(t.built);
  return true;
}

// The group file of the database with `count` targets: every member's keys
// weighed against the keys of the other members.
bool writeGroup(std::vector<TrainedTarget>& trained, const std::vector<BuiltTarget>& untouched,
                const BuildOptions& build, size_t count, const std::string& path) {
  const std::vector<size_t> members = membersOf(count);
  std::map<uint32_t, int32_t> allViews;
  for (size_t i : members) {
    if (trained[i].recognition) trained[i].recognition->addTargetViews(&allViews);
  }
  std::vector<BuiltTarget> built;
  for (size_t i : members) {
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

struct Cell {
  int frames = 0;
  int correct = 0;
  int wrong = 0;
  int backgroundFrames = 0;
  int falsePositives = 0;
};

struct SceneCount {
  std::string name;
  int frames = 0;
  int falsePositives = 0;
};

struct Result {
  int targetCount = 0;
  std::vector<SceneCount> scenes;                                 // target-free frames per scene
  std::map<std::pair<std::string, std::string>, int> confusions;  // (shown, named) -> frames
  // Per shown target, views with tilt 0-40 and width 30-100 percent: (frames, recognised).
  std::map<std::string, std::pair<int, int>> easyByTarget;
  // Per shown target, in the same views: how many of the frame's
  // recognition features lie on the target (the votes it could get at most).
  std::map<std::string, std::vector<double>> easyFeaturesOnTarget;
  Cell cells[kTiltBins][kWidthBins];
  std::vector<double> times;     // wall-clock ms per recognize call
  std::vector<double> cpuTimes;  // ms of this thread's CPU time per call
};

// CPU time of the calling thread: on a shared machine it shows the call's
// own cost where the wall clock also counts waiting for a core.
double threadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec * 1e-6;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
  return values[index];
}

std::string nameOf(const std::string& resultText) {
  const std::string prefix = "{[{\"id\":\"";
  const std::string suffix = "\"}]}";
  if (resultText.size() < prefix.size() + suffix.size()) return std::string();
  return resultText.substr(prefix.size(), resultText.size() - prefix.size() - suffix.size());
}

// Recognition features of the frame inside the target's outline.
double featuresOnTarget(const RenderedView& view, GradientDescriptor* descriptor) {
  const Image grey = toGray(view.frame);
  const std::array<double, 8>& c = view.truth.corners;
  int inside = 0;
  for (const FrameRecognitionFeature& f :
       frameRecognitionFeatures(grey.pixels.data(), grey.width, grey.height, descriptor)) {
    const double x = f.x * static_cast<double>(f.scale), y = f.y * static_cast<double>(f.scale);
    // Inside a convex outline: on the same side of all four edges.
    int positive = 0;
    for (int k = 0; k < 4; ++k) {
      const double ax = c[2 * k], ay = c[2 * k + 1];
      const double bx = c[(2 * k + 2) % 8], by = c[(2 * k + 3) % 8];
      positive += (bx - ax) * (y - ay) - (by - ay) * (x - ax) > 0.0 ? 1 : 0;
    }
    inside += positive == 0 || positive == 4 ? 1 : 0;
  }
  return inside;
}

// One random view inside tilt bin t and width bin w.
ViewParams randomView(std::mt19937& rng, int t, int w) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  ViewParams view;
  view.tiltDeg = kTiltEdges[t] + unit(rng) * (kTiltEdges[t + 1] - kTiltEdges[t]);
  view.widthFraction = kWidthEdges[w] + unit(rng) * (kWidthEdges[w + 1] - kWidthEdges[w]);
  view.tiltDirectionDeg = unit(rng) * 360.0;
  view.rotationDeg = (unit(rng) - 0.5) * 60.0;
  const double room = std::max(0.0, 1.0 - view.widthFraction) * 0.3;
  view.offsetX = (unit(rng) - 0.5) * room;
  view.offsetY = (unit(rng) - 0.5) * room;
  return view;
}

ViewOptions randomLook(std::mt19937& rng, const Image* background) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  ViewOptions look;
  look.camera.width = kFrameWidth;
  look.camera.height = kFrameHeight;
  look.background = background;
  look.noiseSigma = 1.0 + 2.0 * unit(rng);
  look.contrast = 0.8 + 0.4 * unit(rng);
  look.brightness = (unit(rng) - 0.5) * 30.0;
  if (unit(rng) < 0.3) {
    look.blur = BlurKind::kGaussian;
    look.blurRadius = 0.5 + 0.5 * unit(rng);
  }
  look.seed = static_cast<uint32_t>(rng());
  return look;
}

bool evaluate(const std::vector<EvalTarget>& targets, size_t count, const std::string& groupPath,
              const std::vector<const Image*>& backgrounds,
              const std::vector<const Image*>& emptyScenes,
              const std::vector<std::string>& sceneNames, const Options& options, Result* result) {
  result->targetCount = static_cast<int>(count);
  const std::vector<size_t> members = membersOf(count);
  for (const std::string& name : sceneNames) result->scenes.push_back(SceneCount{name, 0, 0});
  const fs::path dir = fs::path(groupPath).parent_path();
  auto database = std::make_shared<ArdbMngr>();
  database->setArdbAssetDirPath(dir.string());
  database->loadTrackerData((dir / ("app_" + std::to_string(count))).string(),
                            {fs::path(groupPath).filename().string()});
  if (!database->getNegativeTable() || !database->getPositiveTable() ||
      database->getNegativeTable()->keyCount() + database->getPositiveTable()->keyCount() == 0) {
    std::fprintf(stderr, "database %s has no keys\n", groupPath.c_str());
    return false;
  }
  Recognizer recognizer;
  recognizer.init(database);
  GradientDescriptor descriptor;
  std::mt19937 rng(options.seed + static_cast<uint32_t>(count));
  std::string text;
  std::string error;
  RenderedView view;

  auto timedRecognize = [&](const Image& frame) {
    const double cpuStart = threadCpuMs();
    const auto start = std::chrono::steady_clock::now();
    const int32_t status =
        recognizer.recognize(frame.width, frame.height, 0, frame.pixels.data(), text, "");
    const auto stop = std::chrono::steady_clock::now();
    result->cpuTimes.push_back(threadCpuMs() - cpuStart);
    result->times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    return status;
  };

  for (int t = 0; t < kTiltBins; ++t) {
    for (int w = 0; w < kWidthBins; ++w) {
      Cell& cell = result->cells[t][w];
      for (int v = 0; v < options.viewsPerCell; ++v) {
        const EvalTarget& target = targets[members[rng() % count]];
        const Image* background = backgrounds[rng() % backgrounds.size()];
        const ViewParams params = randomView(rng, t, w);
        const ViewOptions look = randomLook(rng, background);
        if (!renderView(target.image, poseFromView(params, look.camera), look, &view, &error)) {
          std::fprintf(stderr, "render failed: %s\n", error.c_str());
          return false;
        }
        const int32_t status = timedRecognize(view.frame);
        ++cell.frames;
        const bool easy = t < 2 && w > 0;
        if (easy) {
          ++result->easyByTarget[target.name].first;
          result->easyFeaturesOnTarget[target.name].push_back(featuresOnTarget(view, &descriptor));
        }
        if (status == kRecognized) {
          if (nameOf(text) == target.name) {
            ++cell.correct;
            if (easy) ++result->easyByTarget[target.name].second;
          } else {
            ++cell.wrong;
            ++result->confusions[{target.name, nameOf(text)}];
          }
        }
      }
      // Frames without any target: a texture or a photo that is not in the
      // database, seen under the same kind of pose, in front of clutter.
      for (int v = 0; v < options.viewsPerCell; ++v) {
        const size_t sceneIndex = rng() % emptyScenes.size();
        const Image* scene = emptyScenes[sceneIndex];
        const Image* background = backgrounds[rng() % backgrounds.size()];
        ViewParams params = randomView(rng, t, w);
        const ViewOptions look = randomLook(rng, background);
        if (!renderView(*scene, poseFromView(params, look.camera), look, &view, &error)) {
          std::fprintf(stderr, "render failed: %s\n", error.c_str());
          return false;
        }
        ++cell.backgroundFrames;
        ++result->scenes[sceneIndex].frames;
        if (timedRecognize(view.frame) == kRecognized) {
          ++cell.falsePositives;
          ++result->scenes[sceneIndex].falsePositives;
        }
      }
    }
  }
  return true;
}

double rate(int part, int whole) { return whole > 0 ? 100.0 * part / whole : 0.0; }

void printResult(const Result& r, std::FILE* csv) {
  std::printf("\nN = %d targets\n", r.targetCount);
  std::printf("%-7s %-7s %7s %8s %8s %7s %8s\n", "tilt", "width%", "frames", "recog%", "wrong%",
              "empty", "falsep%");
  Cell easy;
  Cell steep;
  Cell all;
  for (int t = 0; t < kTiltBins; ++t) {
    for (int w = 0; w < kWidthBins; ++w) {
      const Cell& c = r.cells[t][w];
      std::printf("%-7s %-7s %7d %8.1f %8.1f %7d %8.1f\n", kTiltNames[t], kWidthNames[w], c.frames,
                  rate(c.correct, c.frames), rate(c.wrong, c.frames), c.backgroundFrames,
                  rate(c.falsePositives, c.backgroundFrames));
      std::fprintf(csv, "%d,%s,%s,%d,%d,%d,%d,%d\n", r.targetCount, kTiltNames[t], kWidthNames[w],
                   c.frames, c.correct, c.wrong, c.backgroundFrames, c.falsePositives);
      for (Cell* sum : {&all, t < 2 && w > 0 ? &easy : nullptr, t == 2 ? &steep : nullptr}) {
        if (sum == nullptr) continue;
        sum->frames += c.frames;
        sum->correct += c.correct;
        sum->wrong += c.wrong;
        sum->backgroundFrames += c.backgroundFrames;
        sum->falsePositives += c.falsePositives;
      }
    }
  }
  std::printf("tilt 0-40, width 30-100: recognised %.1f%% of %d\n", rate(easy.correct, easy.frames),
              easy.frames);
  std::printf("tilt 40-60, all widths:  recognised %.1f%% of %d\n",
              rate(steep.correct, steep.frames), steep.frames);
  std::printf("all: recognised %.1f%%, wrong %.1f%% of %d; false positives %.2f%% of %d\n",
              rate(all.correct, all.frames), rate(all.wrong, all.frames), all.frames,
              rate(all.falsePositives, all.backgroundFrames), all.backgroundFrames);
  std::vector<std::pair<int, std::pair<std::string, std::string>>> confusions;
  for (const auto& entry : r.confusions) confusions.push_back({entry.second, entry.first});
  std::sort(confusions.rbegin(), confusions.rend());
  std::printf("most frequent wrong names (shown -> named):");
  for (size_t i = 0; i < confusions.size() && i < 6; ++i) {
    std::printf(" %s->%s %d", confusions[i].second.first.c_str(),
                confusions[i].second.second.c_str(), confusions[i].first);
  }
  std::printf("\n");
  std::printf("tilt 0-40, width 30-100 by target (recognised/frames):");
  for (const auto& entry : r.easyByTarget) {
    std::printf(" %s %d/%d", entry.first.c_str(), entry.second.second, entry.second.first);
  }
  std::printf("\n");
  std::printf("tilt 0-40, width 30-100 by target (median recognition features on the target):");
  for (const auto& entry : r.easyFeaturesOnTarget) {
    std::printf(" %s %.0f", entry.first.c_str(), percentile(entry.second, 0.5));
  }
  std::printf("\n");
  std::printf("false positives by scene:");
  for (const SceneCount& scene : r.scenes) {
    std::printf(" %s %d/%d", scene.name.c_str(), scene.falsePositives, scene.frames);
    std::fprintf(csv, "%d,scene,%s,%d,%d\n", r.targetCount, scene.name.c_str(), scene.frames,
                 scene.falsePositives);
  }
  std::printf("\n");
  const double median = percentile(r.times, 0.5);
  const double p90 = percentile(r.times, 0.9);
  const double cpuMedian = percentile(r.cpuTimes, 0.5);
  const double cpuP90 = percentile(r.cpuTimes, 0.9);
  std::printf(
      "recognize 640x480 BGR: median %.2f ms, 90th percentile %.2f ms wall clock; "
      "%.2f / %.2f ms thread CPU (%zu calls)\n",
      median, p90, cpuMedian, cpuP90, r.times.size());
  std::fprintf(csv, "%d,all,all,%d,%d,%d,%d,%d\n", r.targetCount, all.frames, all.correct,
               all.wrong, all.backgroundFrames, all.falsePositives);
  std::fprintf(csv, "%d,wall_ms,median,%.3f\n%d,wall_ms,p90,%.3f\n", r.targetCount, median,
               r.targetCount, p90);
  std::fprintf(csv, "%d,cpu_ms,median,%.3f\n%d,cpu_ms,p90,%.3f\n", r.targetCount, cpuMedian,
               r.targetCount, cpuP90);
}

int usage() {
  std::fprintf(stderr,
               "usage: recognition_eval [--large] [--views N] [--csv FILE] [--cache DIR] "
               "[--seed S]\n"
               "                        [--max-keys N] [--training-views N] [--budget VOTES]\n"
               "                        [--variants]\n");
  return 2;
}

int run(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--large") {
      options.viewsPerCell = 48;
    } else if (arg == "--views" && hasValue) {
      options.viewsPerCell = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--csv" && hasValue) {
      options.csvPath = argv[++i];
    } else if (arg == "--cache" && hasValue) {
      options.cacheDir = argv[++i];
    } else if (arg == "--max-keys" && hasValue) {
      options.build.maxRecognitionKeys = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--variants") {
      options.build.orientationVariants = true;
    } else if (arg == "--training-views" && hasValue) {
      options.build.trainingViews = std::max(0, std::atoi(argv[++i]));
    } else if (arg == "--budget" && hasValue) {
      options.build.backgroundVoteBudget = std::atof(argv[++i]);
    } else if (arg == "--seed" && hasValue) {
      options.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      return usage();
    }
  }

  std::vector<EvalTarget> targets;
  if (!makeTargets(&targets)) return 1;

  const fs::path work = options.cacheDir.empty()
                            ? fs::temp_directory_path() /
                                  ("recognition_eval_" + std::to_string(std::random_device{}()))
                            : fs::path(options.cacheDir);
  std::error_code ec;
  fs::create_directories(work, ec);
  const size_t counts[] = {1, 10, 50};
  auto groupPath = [&](size_t n) { return (work / ("eval" + std::to_string(n) + ".db")).string(); };
  bool cached = !options.cacheDir.empty();
  for (size_t n : counts) cached = cached && fs::exists(groupPath(n));
  if (!cached) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<TrainedTarget> trained;
    std::vector<BuiltTarget> untouched;
    if (!trainAll(targets, options.build, &trained, &untouched)) return 1;
    for (size_t n : counts) {
      if (!writeGroup(trained, untouched, options.build, n, groupPath(n))) {
        std::fprintf(stderr, "cannot write %s\n", groupPath(n).c_str());
        return 1;
      }
    }
    std::fprintf(stderr, "built %zu targets in %.1f s\n", targets.size(),
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }

  // Scenery: textures and the synthetic clutter behind targets; target-free
  // scenes add every photo whose content is not in the database.
  Image brick;
  Image gravel;
  Image grass;
  if (!loadPhoto("brick", &brick) || !loadPhoto("gravel", &gravel) || !loadPhoto("grass", &grass))
    return 1;
  const Image clutterA = makeClutter(kFrameWidth, kFrameHeight, 11);
  const Image clutterB = makeClutter(kFrameWidth, kFrameHeight, 12);
  const std::vector<const Image*> backgrounds = {&clutterA, &clutterB, &brick, &gravel, &grass};
  const char* const photoNames[] = {"astronaut", "camera", "chelsea", "coffee",
                                    "rocket",    "text",   "hubble",  "retina"};
  std::vector<Image> photos(8);
  for (int i = 0; i < 8; ++i) {
    if (!loadPhoto(photoNames[i], &photos[i])) return 1;
  }

  std::FILE* csv = std::fopen(options.csvPath.c_str(), "w");
  if (csv == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", options.csvPath.c_str());
    return 1;
  }
  std::fprintf(csv,
               "targets,tilt_deg,width_pct,frames,correct,wrong,empty_frames,false_positives\n");
  std::vector<Result> results;
  for (size_t n : counts) {
    std::vector<const Image*> emptyScenes = {&brick, &gravel, &grass, &clutterA};
    std::vector<std::string> sceneNames = {"brick", "gravel", "grass", "clutter"};
    for (int i = 0; i < 8; ++i) {
      bool used = false;
      for (size_t k : membersOf(n)) used = used || targets[k].source == photoNames[i];
      if (!used) {
        emptyScenes.push_back(&photos[i]);
        sceneNames.push_back(photoNames[i]);
      }
    }
    Result result;
    if (!evaluate(targets, n, groupPath(n), backgrounds, emptyScenes, sceneNames, options,
                  &result)) {
      std::fclose(csv);
      return 1;
    }
    results.push_back(std::move(result));
  }
  for (const Result& r : results) printResult(r, csv);
  std::fclose(csv);
  std::printf("\nCSV written to %s\n", options.csvPath.c_str());
  if (options.cacheDir.empty()) fs::remove_all(work, ec);
  return 0;
}

}  // namespace
}  // namespace vornik

int main(int argc, char** argv) { return vornik::run(argc, argv); }
