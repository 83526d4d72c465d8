// vornik-play: runs recognition and tracking on recorded frames (a folder,
// an image sequence or a video), every frame in order, and prints one line
// per frame and a summary; with ground truth from vornik-synth it adds the
// corner error and the tracking evaluation.
#include <fcntl.h>
#if defined(_WIN32)
// The POSIX names of the descriptor functions.
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/ground_truth.h"
#include "common/image_io.h"
#include "database/ardb_mngr.h"
#include "frame_source.h"
#include "manager/frame_stepper.h"
#include "manager/log.h"
#include "manager/trackable.h"
#include "overlay.h"
#include "play_metrics.h"
#include "recognition/recognizer.h"
#include "tracking/tracker.h"

namespace {

using namespace vornik;
namespace fs = std::filesystem;

const char kUsage[] =
    "Usage: vornik-play --group FILE [--group FILE ...] [options] INPUT\n"
    "\n"
    "Runs the library's recognition and tracking on every frame of INPUT, in\n"
    "order, and prints one line per frame (frame, file, state, identifier, name,\n"
    "pose, the four projected target corners, milliseconds) and a summary.\n"
    "\n"
    "INPUT is a folder of .jpg/.jpeg/.png images (name order), a numbered\n"
    "sequence such as frames/frame_%05d.jpg, a single image, or a video file\n"
    "(read through the capture plug-in).\n"
    "\n"
    "States: not_recognised, recognised (the next frame estimates the initial\n"
    "pose), acquired (initial pose), acquire_failed, tracked, lost. Poses and\n"
    "corners are given for acquired and tracked frames. The pose is the\n"
    "library's: 16 floats column-major, translation in target pixels; corners\n"
    "use focal length = frame width and the principal point at the centre.\n"
    "\n"
    "Options:\n"
    "  --group FILE         group file made by vornik-mkdb (repeatable; all in one\n"
    "                       folder, the database's asset folder)\n"
    "  --truth CSV          ground truth of vornik-synth (ground_truth.csv): adds\n"
    "                       in_view and corner_error_px (largest corner distance) per\n"
    "                       frame and the tracking evaluation to the summary\n"
    "  --format csv|json    frame lines as CSV with a header (default) or JSON lines\n"
    "  --out FILE           frame lines into FILE instead of standard output\n"
    "  --overlay DIR        writes every frame as DIR/overlay_NNNNN.jpg with the\n"
    "                       target outline, the target's axes and the state drawn\n"
    "  --appdata DIR        folder for the database cache (default: a temporary\n"
    "                       folder removed at the end)\n"
    "  --max-frames N       stop after N frames\n"
    "  --capture-plugin SO  capture plug-in for videos (default: the one built\n"
    "                       with this program)\n"
    "  --verbose            keep the library's diagnostic lines (on standard error)\n"
    "  -h, --help           this text\n"
    "\n"
    "Exit status: 0 on success, 1 on bad input, 2 on a bad command line.\n";

int commandLineError(const std::string& message) {
  std::fprintf(stderr, "vornik-play: %s (see --help)\n", message.c_str());
  return 2;
}

int inputError(const std::string& message) {
  std::fprintf(stderr, "vornik-play: error: %s\n", message.c_str());
  return 1;
}

struct Settings {
  std::vector<std::string> groups;
  std::string input, truth, out, overlay, appdata;
  std::string capturePlugin;
  bool json = false;
  bool verbose = false;
  long maxFrames = -1;
};

bool parseArguments(int argc, char** argv, Settings* s, bool* help, std::string* error) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) {
        *error = "option " + name + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    std::string text;
    if (name == "-h" || name == "--help") {
      *help = true;
      return true;
    } else if (name == "--group") {
      if (!value(&text)) return false;
      s->groups.push_back(text);
    } else if (name == "--truth") {
      if (!value(&s->truth)) return false;
    } else if (name == "--out") {
      if (!value(&s->out)) return false;
    } else if (name == "--overlay") {
      if (!value(&s->overlay)) return false;
    } else if (name == "--appdata") {
      if (!value(&s->appdata)) return false;
    } else if (name == "--capture-plugin") {
      if (!value(&s->capturePlugin)) return false;
    } else if (name == "--format") {
      if (!value(&text)) return false;
      if (text != "csv" && text != "json") {
        *error = "bad value '" + text + "' for --format (expected csv or json)";
        return false;
      }
      s->json = text == "json";
    } else if (name == "--max-frames") {
      if (!value(&text)) return false;
      char* end = nullptr;
      s->maxFrames = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || s->maxFrames < 1) {
        *error = "bad value '" + text + "' for --max-frames (expected a count >= 1)";
        return false;
      }
    } else if (name == "--verbose") {
      s->verbose = true;
    } else if (!name.empty() && name[0] == '-' && name != "-") {
      *error = "unknown option " + name;
      return false;
    } else if (s->input.empty()) {
      s->input = name;
    } else {
      *error = "more than one input (" + s->input + ", " + name + ")";
      return false;
    }
  }
  if (s->input.empty()) {
    *error = "no input given";
    return false;
  }
  if (s->groups.empty()) {
    *error = "no --group given";
    return false;
  }
  return true;
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string number(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

#if defined(_WIN32)
constexpr char kNullDevice[] = "NUL";
#else
constexpr char kNullDevice[] = "/dev/null";
#endif

void discardLog(const char*) {}

// Keeps the engines' own standard-output lines out of the frame lines: the
// report goes to a copy of the original standard output, and descriptor 1
// is pointed at standard error (or nowhere).
FILE* takeOverStandardOutput(bool keepDiagnostics) {
  std::fflush(stdout);
  const int report = dup(1);
  const int target = keepDiagnostics ? dup(2) : open(kNullDevice, O_WRONLY);
  if (report < 0 || target < 0) return stdout;
  dup2(target, 1);
  close(target);
  FILE* out = fdopen(report, "w");
  return out != nullptr ? out : stdout;
}

struct StageTime {
  double totalMs = 0.0;
  int frames = 0;
  void add(double ms) {
    totalMs += ms;
    ++frames;
  }
  std::string text() const {
    if (frames == 0) return "- (0 frames)";
    return number(totalMs / frames, 2) + " ms (" + std::to_string(frames) +
           (frames == 1 ? " frame)" : " frames)");
  }
};

class TemporaryFolder {
 public:
  explicit TemporaryFolder(std::string path) : path_(std::move(path)) {}
  ~TemporaryFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

 private:
  std::string path_;
};

int run(const Settings& s) {
  // Group files: readable, and all in one folder (the database has one asset folder).
  std::string assetDir;
  std::vector<std::string> groupNames;
  for (const std::string& group : s.groups) {
    std::error_code ec;
    if (!fs::is_regular_file(group, ec)) return inputError("group file " + group + " not found");
    if (!std::ifstream(group, std::ios::binary)) {
      return inputError("cannot read the group file " + group);
    }
    const fs::path path = fs::absolute(group, ec);
    const std::string dir = path.parent_path().string();
    if (assetDir.empty()) {
      assetDir = dir;
    } else if (dir != assetDir) {
      return inputError("group files must share one folder (" + assetDir + ", " + dir + ")");
    }
    groupNames.push_back(path.filename().string());
  }

  std::vector<GroundTruthRow> truthRows;
  std::map<std::string, const GroundTruthRow*> truthByFile;
  std::string error;
  if (!s.truth.empty()) {
    if (!readGroundTruth(s.truth, &truthRows, &error)) {
      return inputError("ground truth " + s.truth + ": " + error);
    }
    for (const GroundTruthRow& row : truthRows) truthByFile[row.fileName] = &row;
  }

  std::unique_ptr<FrameSource> source = openFrameSource(s.input, s.capturePlugin, &error);
  if (!source) return inputError(error);

  if (!s.overlay.empty()) {
    std::error_code ec;
    fs::create_directories(s.overlay, ec);
    if (!fs::is_directory(s.overlay, ec)) {
      return inputError("cannot create the overlay folder " + s.overlay);
    }
  }

  std::unique_ptr<TemporaryFolder> temporaryAppData;
  std::string appdata = s.appdata;
  if (appdata.empty()) {
    appdata = (fs::temp_directory_path() / ("vornik-play-" + std::to_string(getpid()))).string();
    temporaryAppData = std::make_unique<TemporaryFolder>(appdata);
  }
  std::error_code ec;
  fs::create_directories(appdata, ec);

  if (!s.verbose) setLogSink(&discardLog);
  FILE* report = takeOverStandardOutput(s.verbose);
  FILE* lines = report;
  std::unique_ptr<FILE, int (*)(FILE*)> outFile(nullptr, &std::fclose);
  if (!s.out.empty()) {
    outFile.reset(std::fopen(s.out.c_str(), "w"));
    if (!outFile) return inputError("cannot write " + s.out);
    lines = outFile.get();
  }

  auto database = std::make_shared<ArdbMngr>();
  database->setArdbAssetDirPath(assetDir);
  database->loadTrackerData(appdata, groupNames);
  for (const std::string& group : groupNames) {
    bool found = false;
    for (const auto& entry : database->groupFileOf()) {
      found = found || fs::path(entry.second).filename().string() == group;
    }
    if (!found) return inputError("no target could be read from the group file " + group);
  }
  auto recognizer = std::make_shared<Recognizer>();
  if (recognizer->init(database) != 0) return inputError("the database has no recognition data");
  auto tracker = std::make_shared<Tracker>();
  DefaultTrackingEngines engines(database, recognizer, tracker);
  FrameStepper stepper(&engines);

  const bool withTruth = !s.truth.empty();
  if (!s.json) {
    std::string header = "frame,file,state,id,name";
    for (int i = 0; i < 16; ++i) header += ",p" + std::to_string(i);
    for (int i = 0; i < 4; ++i) header += ",x" + std::to_string(i) + ",y" + std::to_string(i);
    header += ",ms";
    if (withTruth) header += ",in_view,corner_error_px";
    std::fprintf(lines, "%s\n", header.c_str());
  }

  std::map<FrameStepper::Outcome, int> counts;
  StageTime recognitionTime, initialPoseTime, trackingTime;
  std::vector<FrameEvaluation> evaluations;
  std::vector<std::string> overlayFiles;
  int frameWidth = 0, frameHeight = 0;
  int frameIndex = 0, skipped = 0;
  Image frame;
  std::string name;
  while ((s.maxFrames < 0 || frameIndex < s.maxFrames) && source->next(&frame, &name, &error)) {
    if (frameIndex == 0) {
      frameWidth = frame.width;
      frameHeight = frame.height;
      tracker->init(frameWidth, frameHeight, 0, database);
    }
    const int index = frameIndex++;
    if (frame.width != frameWidth || frame.height != frameHeight) {
      std::fprintf(stderr, "vornik-play: frame %d (%s) is %dx%d, not %dx%d: skipped\n", index,
                   name.c_str(), frame.width, frame.height, frameWidth, frameHeight);
      ++skipped;
      continue;
    }
    const FrameStepper::Stage stageBefore = stepper.stage();
    Trackable trackable;
    const auto start = std::chrono::steady_clock::now();
    const FrameStepper::Outcome outcome =
        stepper.step(frame.pixels.data(), frameWidth, frameHeight, 0, &trackable);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    ++counts[outcome];
    (stageBefore == FrameStepper::kRecognising ? recognitionTime
     : stageBefore == FrameStepper::kAcquiring ? initialPoseTime
                                               : trackingTime)
        .add(ms);

    const bool posed =
        outcome == FrameStepper::Outcome::kAcquired || outcome == FrameStepper::Outcome::kTracked;
    std::array<double, 8> corners{};
    const int targetWidth = static_cast<int>(trackable.getWidth());
    const int targetHeight = static_cast<int>(trackable.getHeight());
    const bool cornersValid =
        posed && projectTargetCorners(trackable.getPose(), targetWidth, targetHeight, frameWidth,
                                      frameHeight, &corners);

    FrameEvaluation evaluation;
    bool hasTruth = false;
    if (withTruth) {
      const auto it = truthByFile.find(name);
      if (it != truthByFile.end()) {
        hasTruth = true;
        evaluation.inView = it->second->truth.fullyInView;
        evaluation.truthPose = it->second->truth.cameraFromTarget;
        evaluation.posed = cornersValid;
        evaluation.corners = corners;
        if (cornersValid) evaluation.error = cornerError(corners, it->second->truth.corners);
        evaluations.push_back(evaluation);
      }
    }

    const std::string id = posed ? trackable.getId() : std::string();
    const std::string targetName = posed ? trackable.getName() : std::string();
    if (s.json) {
      std::string line = "{\"frame\":" + std::to_string(index) + ",\"file\":" + jsonString(name) +
                         ",\"state\":\"" + outcomeName(outcome) + "\",\"id\":" + jsonString(id) +
                         ",\"name\":" + jsonString(targetName) + ",\"pose\":";
      if (posed) {
        line += "[";
        for (int i = 0; i < 16; ++i) line += (i ? "," : "") + number(trackable.getPose()[i], 6);
        line += "]";
      } else {
        line += "null";
      }
      line += ",\"corners\":";
      if (cornersValid) {
        line += "[";
        for (int i = 0; i < 8; ++i) line += (i ? "," : "") + number(corners[i], 2);
        line += "]";
      } else {
        line += "null";
      }
      line += ",\"ms\":" + number(ms, 3);
      if (hasTruth) {
        line += std::string(",\"in_view\":") + (evaluation.inView ? "true" : "false") +
                ",\"corner_error_px\":" + (cornersValid ? number(evaluation.error, 3) : "null");
      }
      std::fprintf(lines, "%s}\n", line.c_str());
    } else {
      std::string line = std::to_string(index) + "," + csvField(name) + "," + outcomeName(outcome) +
                         "," + csvField(id) + "," + csvField(targetName);
      for (int i = 0; i < 16; ++i) line += "," + (posed ? number(trackable.getPose()[i], 6) : "");
      for (int i = 0; i < 8; ++i) line += "," + (cornersValid ? number(corners[i], 2) : "");
      line += "," + number(ms, 3);
      if (withTruth) {
        line += std::string(",") + (hasTruth ? (evaluation.inView ? "1" : "0") : "") + "," +
                (hasTruth && cornersValid ? number(evaluation.error, 3) : "");
      }
      std::fprintf(lines, "%s\n", line.c_str());
    }

    if (!s.overlay.empty()) {
      Image picture = frame;
      const int thickness = std::max(2, frameWidth / 320);
      const int scale = std::max(2, frameWidth / 320);
      if (hasTruth && evaluation.inView) {
        drawQuad(&picture, truthByFile[name]->truth.corners, Bgr{255, 160, 0}, 1);
      }
      if (cornersValid) {
        drawQuad(&picture, corners, Bgr{0, 255, 0}, thickness);
        // Axes from the target centre, half the target width long: x red,
        // y green (up the target), z blue (out of its face).
        const double cx = targetWidth / 2, cy = targetHeight / 2;
        const double length = targetWidth / 2.0;
        const double ends[3][3] = {{cx + length, cy, 0}, {cx, cy - length, 0}, {cx, cy, length}};
        const Bgr colors[3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}};
        double u0, v0;
        if (projectWithResultPose(trackable.getPose(), targetWidth, targetHeight, frameWidth,
                                  frameHeight, cx, cy, 0, &u0, &v0)) {
          for (int a = 0; a < 3; ++a) {
            double u1, v1;
            if (projectWithResultPose(trackable.getPose(), targetWidth, targetHeight, frameWidth,
                                      frameHeight, ends[a][0], ends[a][1], ends[a][2], &u1, &v1)) {
              drawLine(&picture, u0, v0, u1, v1, colors[a], thickness);
            }
          }
        }
      }
      std::string label = "FRAME " + std::to_string(index) + " " + outcomeName(outcome);
      if (posed) label += " " + id;
      if (hasTruth && cornersValid) label += " ERR " + number(evaluation.error, 1) + " PX";
      const Bgr labelColor = posed ? Bgr{0, 255, 0} : Bgr{0, 200, 255};
      drawText(&picture, 2 * scale, 2 * scale, label, labelColor, scale);
      char file[64];
      std::snprintf(file, sizeof file, "overlay_%05d.jpg", index);
      const std::string path = (fs::path(s.overlay) / file).string();
      std::string writeError;
      if (!writeJpeg(path, picture, 90, &writeError)) {
        return inputError("cannot write " + path + ": " + writeError);
      }
      overlayFiles.push_back(path);
    }
  }
  if (!error.empty()) return inputError(error);
  if (frameIndex == 0) return inputError("the input " + s.input + " holds no frames");
  std::fflush(lines);

  using O = FrameStepper::Outcome;
  const int processed = frameIndex - skipped;
  const int posedFrames = counts[O::kAcquired] + counts[O::kTracked];
  std::fprintf(report, "# summary: %d frames (%dx%d)", processed, frameWidth, frameHeight);
  if (skipped > 0) std::fprintf(report, ", %d skipped", skipped);
  std::fprintf(report,
               "\n# states: recognised %d, acquired %d, tracked %d, lost %d, acquire_failed %d, "
               "not_recognised %d; frames with a pose %d (%.1f%%)\n",
               counts[O::kRecognised], counts[O::kAcquired], counts[O::kTracked], counts[O::kLost],
               counts[O::kAcquireFailed], counts[O::kNotRecognised], posedFrames,
               processed > 0 ? 100.0 * posedFrames / processed : 0.0);
  std::fprintf(
      report, "# time per frame by stage (mean): recognition %s, initial pose %s, tracking %s\n",
      recognitionTime.text().c_str(), initialPoseTime.text().c_str(), trackingTime.text().c_str());
  if (withTruth) {
    const EvaluationSummary e = summarise(evaluations);
    std::fprintf(report,
                 "# ground truth: %d frames matched, %d fully in view, %d within %.0f px "
                 "(%.1f%%), mean corner error %s over %d posed in-view frames\n",
                 e.frames, e.inViewFrames, e.withinGood, kGoodCornerErrorPx,
                 100.0 * e.shareWithinGood,
                 e.posedInView > 0 ? (number(e.meanError, 2) + " px").c_str() : "-", e.posedInView);
    if (e.staticView) std::fprintf(report, "# static view jitter: %.3f px\n", e.jitterPx);
    if (e.returnFrame >= 0) {
      if (e.reacquireFrames >= 0) {
        std::fprintf(report, "# re-acquired %d frames after the target came back (frame %d)\n",
                     e.reacquireFrames, e.returnFrame);
      } else {
        std::fprintf(report, "# not re-acquired after the target came back (frame %d)\n",
                     e.returnFrame);
      }
    }
    if (e.frames < processed) {
      std::fprintf(report, "# %d frames had no ground-truth row\n", processed - e.frames);
    }
  }
  if (!overlayFiles.empty()) {
    std::fprintf(report, "# overlay: %zu images in %s (first %s, last %s)\n", overlayFiles.size(),
                 s.overlay.c_str(), overlayFiles.front().c_str(), overlayFiles.back().c_str());
  }
  std::fflush(report);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
#ifdef VORNIK_CAPTURE_PLUGIN_PATH
  settings.capturePlugin = VORNIK_CAPTURE_PLUGIN_PATH;
#endif
  bool help = false;
  std::string error;
  if (!parseArguments(argc, argv, &settings, &help, &error)) return commandLineError(error);
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return run(settings);
}
