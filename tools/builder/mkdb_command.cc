#include "builder/mkdb_command.h"

#include <cerrno>
#include <cstdlib>
#include <map>

#include "builder/database_builder.h"
#include "builder/database_report.h"
#include "recognition/recognizer.h"

namespace vornik {

namespace {

constexpr int kDefaultListViews = 10;
constexpr int kMaxListViews = 1000;

const char kUsage[] =
    "Usage: vornik-mkdb -o FILE [options] IMAGE[=TARGET] ...\n"
    "       vornik-mkdb --list FILE [--list-views N]\n"
    "\n"
    "Builds a group file with the entries TARGET.dat, TARGET.trk, TARGET.jpg and\n"
    "TARGET.json for every IMAGE (JPEG or PNG, grey or colour, at least 100 and at\n"
    "most 16384 pixels a side). TARGET is the identifier the library reports; it\n"
    "defaults to the image file's name without extension, must be unique and may\n"
    "not contain \".\", quotes, backslashes or control characters.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE       group file to write; it is replaced only when the\n"
    "                          whole build succeeded\n"
    "  --name TARGET=TEXT      display name (\"TrackableName\") of TARGET;\n"
    "                          default: TARGET\n"
    "  --width [TARGET=]VALUE  physical width of the printed target (any unit, > 0);\n"
    "                          reported distances come out in that unit. Without\n"
    "                          TARGET= it is the default of all targets; default 1.0\n"
    "  --size PIXELS           working size: the target image is scaled so that its\n"
    "                          longer side has PIXELS pixels (100..4095, default 640)\n"
    "  --quality Q             JPEG quality of the stored image (1..100, default 90)\n"
    "  --views N               random training views per target (0..2000, default\n"
    "                          640): the target is rendered under random tilt, turn,\n"
    "                          scale, blur, noise and brightness and only features\n"
    "                          that recur are kept; more views, steadier choice.\n"
    "                          They also score the tracking records\n"
    "  --tracking-views N      of the training views, how many score the tracking\n"
    "                          records (0..2000, default 640); more find the\n"
    "                          features a steep or far view still matches, at\n"
    "                          about 3 ms per view and target\n"
    "  --no-training           same as --views 0: keep the strongest features of\n"
    "                          the clean image (fast, weaker)\n"
    "  --seed S                seed of the training views (default 1); the same\n"
    "                          inputs and options always give the same bytes\n"
    "  --max-keys N            most recognition records per target (default 2000);\n"
    "                          fewer are kept when more would let scenes without\n"
    "                          the target collect votes for it\n"
    "  --max-tracking N        most tracking records per target (default 800)\n"
    "  --recognition-corners N corners per frame of the recognizer the keys are\n"
    "                          chosen for (50..2000, default 200), for hosts that\n"
    "                          raise setRecognitionCorners: keys chosen for 400\n"
    "                          name a wrong target about a third as often there\n"
    "  --stray-votes V         votes a target's keys may expect, together, from a\n"
    "                          scene without it (0.1..20, default 1.8); more keys\n"
    "                          recognise more views, and for hosts that count votes\n"
    "                          within a disc (setRecognitionVoteDisc) 3.6 pays\n"
    "  --small-candidates      also take tracking candidates from small (12-23 %\n"
    "                          of the frame) and gently tilted views, where the\n"
    "                          coarse layers see other corners: for hosts that\n"
    "                          also set setTrackingLevelRange(2), more small and\n"
    "                          steep views get an initial pose\n"
    "  -q, --quiet             no progress lines\n"
    "  --list FILE             print every target of FILE: entry sizes, feature\n"
    "                          counts and a trackability rating from 0 to 5: one\n"
    "                          point each for 100, 250 and 400 stable tracking\n"
    "                          features, for features covering at least 3/4 of a\n"
    "                          4 x 4 grid over the image and for 300 recognition\n"
    "                          keys; one point less each for features crowding\n"
    "                          into part of the image, repetitive texture and low\n"
    "                          contrast; 0 below 50 tracking features or 50 keys.\n"
    "                          Weak targets get warnings. Then, per target, the\n"
    "                          share of fresh views (not the training views) in\n"
    "                          which it is recognised and in which its initial\n"
    "                          pose lies within 5 px at every corner, for three\n"
    "                          bands: frontal (35-70 % of the frame width, tilt\n"
    "                          up to 25 degrees), small (15-30 %, up to 30\n"
    "                          degrees) and steep (40-70 %, 40-60 degrees); the\n"
    "                          640x480 views simulate a handheld camera (lens,\n"
    "                          shake, light, sensor noise, JPEG) over a synthetic\n"
    "                          clutter scene and are the same on every run\n"
    "  --list-views N          fresh views per band for --list (0..1000, default\n"
    "                          10; 0: none)\n"
    "  -h, --help              this text\n"
    "\n"
    "Exit status: 0 on success, 1 on bad input or a failed build, 2 on a bad\n"
    "command line.\n";

bool parseInt(const std::string& text, int lo, int hi, int* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *value = static_cast<int>(v);
  return true;
}

// A positive number: a width, a vote budget.
bool parsePositive(const std::string& text, float* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !(v > 0.0) || v > 1e30) return false;
  *value = static_cast<float>(v);
  return true;
}

}  // namespace

const char* mkdbUsage() { return kUsage; }

int runMkdb(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  std::string output;
  std::string listPath;
  int listViews = kDefaultListViews;
  bool listViewsGiven = false;
  bool quiet = false;
  BuildOptions options;
  float defaultWidth = 1.0f;
  std::map<std::string, std::string> names;
  std::map<std::string, float> widths;
  std::vector<std::string> images;

  auto usageError = [&](const std::string& message) {
    std::fprintf(err, "vornik-mkdb: %s (see --help)\n", message.c_str());
    return 2;
  };

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) return false;
      *v = args[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, out);
      return 0;
    } else if (a == "-q" || a == "--quiet") {
      quiet = true;
    } else if (a == "--no-training") {
      options.trainingViews = 0;
    } else if (a == "-o" || a == "--output") {
      if (!value(&output)) return usageError(a + " needs a file name");
    } else if (a == "--list") {
      if (!value(&listPath)) return usageError("--list needs a file name");
    } else if (a == "--list-views") {
      if (!value(&v) || !parseInt(v, 0, kMaxListViews, &listViews)) {
        return usageError("--list-views needs a number from 0 to 1000");
      }
      listViewsGiven = true;
    } else if (a == "--name") {
      const size_t eq = value(&v) ? v.find('=') : std::string::npos;
      if (eq == std::string::npos || eq == 0) return usageError("--name needs TARGET=TEXT");
      names[v.substr(0, eq)] = v.substr(eq + 1);
    } else if (a == "--width") {
      if (!value(&v)) return usageError("--width needs [TARGET=]VALUE");
      const size_t eq = v.find('=');
      float w = 0.0f;
      if (!parsePositive(eq == std::string::npos ? v : v.substr(eq + 1), &w)) {
        return usageError("bad --width value \"" + v + "\": a positive number is needed");
      }
      if (eq == std::string::npos) {
        defaultWidth = w;
      } else {
        widths[v.substr(0, eq)] = w;
      }
    } else if (a == "--size") {
      if (!value(&v) || !parseInt(v, kMinImageSide, kMaxWorkingSize, &options.workingSize)) {
        return usageError("--size needs a number of pixels from 100 to 4095");
      }
    } else if (a == "--quality") {
      if (!value(&v) || !parseInt(v, 1, 100, &options.jpegQuality)) {
        return usageError("--quality needs a number from 1 to 100");
      }
    } else if (a == "--views") {
      if (!value(&v) || !parseInt(v, 0, 2000, &options.trainingViews)) {
        return usageError("--views needs a number from 0 to 2000");
      }
    } else if (a == "--seed") {
      int seed = 0;
      if (!value(&v) || !parseInt(v, 0, 2147483647, &seed)) {
        return usageError("--seed needs a non-negative number");
      }
      options.seed = static_cast<uint32_t>(seed);
    } else if (a == "--max-keys") {
      if (!value(&v) || !parseInt(v, 1, 100000, &options.maxRecognitionKeys)) {
        return usageError("--max-keys needs a positive number");
      }
    } else if (a == "--tracking-views") {
      if (!value(&v) || !parseInt(v, 0, 2000, &options.trackingTrainingViews)) {
        return usageError("--tracking-views needs a number from 0 to 2000");
      }
    } else if (a == "--max-tracking") {
      if (!value(&v) || !parseInt(v, 1, 100000, &options.maxTrackingFeatures)) {
        return usageError("--max-tracking needs a positive number");
      }
    } else if (a == "--recognition-corners") {
      if (!value(&v) || !parseInt(v, kMinRecognitionCorners, kMaxRecognitionCorners,
                                  &options.recognitionCorners)) {
        return usageError("--recognition-corners needs a number from 50 to 2000");
      }
    } else if (a == "--stray-votes") {
      float votes = 0.0f;
      if (!value(&v) || !parsePositive(v, &votes) || votes < 0.1f || votes > 20.0f) {
        return usageError("--stray-votes needs a number from 0.1 to 20");
      }
      options.backgroundVoteBudget = votes;
    } else if (a == "--small-candidates") {
      options.smallCandidateViews = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return usageError("unknown option " + a);
    } else {
      images.push_back(a);
    }
  }

  if (!listPath.empty()) {
    if (!output.empty() || !images.empty()) {
      return usageError("--list takes only the group file");
    }
    std::vector<TargetReport> reports;
    std::string error;
    if (!inspectDatabase(listPath, &reports, &error)) {
      std::fprintf(err, "vornik-mkdb: %s\n", error.c_str());
      return 1;
    }
    printDatabaseReport(listPath, reports, out);
    if (listViews > 0) {
      printFreshViewHeader(listViews, out);
      FreshViewJudge judge(listPath);
      for (const TargetReport& r : reports) {
        std::fflush(out);
        printFreshViewLine(r.targetName, judge.judge(r.targetName, listViews), out);
      }
    }
    return 0;
  }
  if (listViewsGiven) return usageError("--list-views goes with --list");
  if (output.empty()) return usageError("no output file (-o FILE)");
  if (images.empty()) return usageError("no target images");

  std::vector<TargetSpec> specs;
  for (const std::string& arg : images) {
    TargetSpec spec;
    // IMAGE=TARGET; the last "=" separates, so image paths may contain "=".
    const size_t eq = arg.rfind('=');
    if (eq != std::string::npos) {
      spec.imagePath = arg.substr(0, eq);
      spec.targetName = arg.substr(eq + 1);
    } else {
      spec.imagePath = arg;
      spec.targetName = fileStem(arg);
    }
    spec.displayName = spec.targetName;
    spec.physicalWidth = defaultWidth;
    specs.push_back(spec);
  }
  for (TargetSpec& spec : specs) {
    auto n = names.find(spec.targetName);
    if (n != names.end()) spec.displayName = n->second;
    auto w = widths.find(spec.targetName);
    if (w != widths.end()) spec.physicalWidth = w->second;
  }
  for (const auto& [target, text] : names) {
    (void)text;
    bool known = false;
    for (const TargetSpec& s : specs) known = known || s.targetName == target;
    if (!known) return usageError("--name for unknown target \"" + target + "\"");
  }
  for (const auto& [target, w] : widths) {
    (void)w;
    bool known = false;
    for (const TargetSpec& s : specs) known = known || s.targetName == target;
    if (!known) return usageError("--width for unknown target \"" + target + "\"");
  }

  BuildProgress progress;
  if (!quiet) {
    progress = [out](size_t index, size_t count, const BuiltTarget& t) {
      const TargetStats& s = t.stats;
      std::fprintf(out, "[%zu/%zu] %s: %dx%d, %d tracking records", index + 1, count,
                   t.targetName.c_str(), s.imageWidth, s.imageHeight, s.trackingRecords);
      if (s.trackingRecall >= 0.0) {
        std::fprintf(out, ", initial pose in %.0f%% of training views", 100.0 * s.trackingRecall);
      }
      std::fprintf(out, " (%d ms)\n", s.milliseconds);
      std::fflush(out);
    };
  }
  std::vector<BuiltTarget> built;
  std::string error;
  if (!buildDatabase(specs, options, output, progress, &built, &error)) {
    std::fprintf(err, "vornik-mkdb: %s\n", error.c_str());
    return 1;
  }
  if (!quiet) {
    for (const BuiltTarget& t : built) {
      std::fprintf(out, "%s: %d recognition records", t.targetName.c_str(),
                   t.stats.recognitionRecords);
      if (t.stats.recognitionRecall >= 0.0) {
        std::fprintf(out, ", recognised in %.0f%% of training views",
                     100.0 * t.stats.recognitionRecall);
      }
      std::fprintf(out, "\n");
    }
    size_t bytes = 0;
    std::vector<uint8_t> file;
    if (makeGroupFile(built, &file)) bytes = file.size();
    std::fprintf(out, "wrote %s: %zu target%s, %zu bytes\n", output.c_str(), built.size(),
                 built.size() == 1 ? "" : "s", bytes);
  }
  return 0;
}

}  // namespace vornik
