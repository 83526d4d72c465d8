// vornik-parity: the still-image tracking test of the shared library over a
// list of frames, one line per frame with the outcome and the pose. With
// --reference it compares its lines with those of another build of the
// library on the same database and frames (the Windows DLL under Wine against
// the Linux library): the same outcome on every frame, and poses that put the
// target's corners within a tolerance of each other.
//   vornik-parity --assets DIR --group FILE --appdata DIR --work DIR
//                 --out FILE [--reference FILE [--tolerance PIXELS]] FRAME...
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/image_io.h"
#include "vornik/vornik.h"

namespace {

struct Options {
  std::string assets;
  std::string group;
  std::string appData;
  std::string work;
  std::string out;
  std::string reference;
  double tolerance = 0.05;
  std::vector<std::string> frames;
};

// One frame's result: the harness's outcome text and, on "Success", the
// published target with its pose.
struct FrameResult {
  std::string name;
  std::string outcome;
  std::string id;
  float width = 0;
  float height = 0;
  float pose[16] = {};
};

void ignoreLine(const char*) {}

// The file name with its folder ("orbit/frame_00000.jpg"): frames of several
// folders keep names of their own.
std::string frameName(const std::string& path) {
  const size_t file = path.find_last_of("/\\");
  if (file == std::string::npos || file == 0) return path;
  const size_t folder = path.find_last_of("/\\", file - 1);
  return folder == std::string::npos ? path : path.substr(folder + 1);
}

std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, ',')) fields.push_back(field);
  return fields;
}

// Runs the frames through TEST_TRACKING; false with a message when a frame
// cannot be read or the report is not what the harness writes.
bool runFrames(const Options& options, std::vector<FrameResult>* results) {
  vornik::setLogCallback(&ignoreLine);
  vornik::setAppDataDirPath(options.appData);
  vornik::setArdbAssetDirPath(options.assets);
  vornik::addTrackableGroup(options.group);
  std::vector<vornik::Image> images;
  for (const std::string& path : options.frames) {
    vornik::Image image;
    std::string error;
    if (!vornik::readImage(path, &image, &error)) {
      std::fprintf(stderr, "vornik-parity: %s: %s\n", path.c_str(), error.c_str());
      return false;
    }
    images.push_back(vornik::toBgr(image));
  }
  if (images.empty()) return true;
  const std::string report = options.work + "/report.csv";
  vornik::startTest(vornik::TEST_TRACKING, report, images[0].width, images[0].height);
  for (size_t i = 0; i < images.size(); ++i) {
    vornik::Image& image = images[i];
    FrameResult result;
    result.name = frameName(options.frames[i]);
    vornik::trackNextImage(result.name, image.pixels.data(), static_cast<int>(image.pixels.size()),
                           image.width, image.height, 0);
    vornik::ITrackingResult& published = vornik::getTrackingResult();
    if (published.getCount() > 0) {
      const vornik::ITrackable& trackable = published.getTrackable(0);
      result.id = trackable.getId();
      result.width = trackable.getWidth();
      result.height = trackable.getHeight();
      std::copy(trackable.getPose(), trackable.getPose() + 16, result.pose);
    }
    results->push_back(result);
  }
  vornik::endTest();

  // The outcome of each frame is the second field of its report line.
  std::ifstream lines(report);
  std::string line;
  std::getline(lines, line);  // header
  for (FrameResult& result : *results) {
    if (!std::getline(lines, line)) {
      std::fprintf(stderr, "vornik-parity: report %s ends early\n", report.c_str());
      return false;
    }
    const std::vector<std::string> fields = splitFields(line);
    if (fields.size() != 3 || fields[0] != result.name) {
      std::fprintf(stderr, "vornik-parity: unexpected report line \"%s\"\n", line.c_str());
      return false;
    }
    result.outcome = fields[1];
    // A failed frame publishes nothing: what the snapshot holds is older.
    if (result.outcome != "Success") {
      FrameResult failed;
      failed.name = result.name;
      failed.outcome = result.outcome;
      result = failed;
    }
  }
  return true;
}

bool writeResults(const std::string& path, const std::vector<FrameResult>& results) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) {
    std::fprintf(stderr, "vornik-parity: cannot write %s\n", path.c_str());
    return false;
  }
  for (const FrameResult& result : results) {
    std::fprintf(out, "%s,%s,%s,%.9g,%.9g", result.name.c_str(), result.outcome.c_str(),
                 result.id.c_str(), result.width, result.height);
    for (float value : result.pose) std::fprintf(out, ",%.9g", value);
    std::fputc('\n', out);
  }
  return std::fclose(out) == 0;
}

bool readResults(const std::string& path, std::vector<FrameResult>* results) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "vornik-parity: cannot read %s\n", path.c_str());
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = splitFields(line);
    if (fields.size() != 21) {
      std::fprintf(stderr, "vornik-parity: bad line in %s: \"%s\"\n", path.c_str(), line.c_str());
      return false;
    }
    FrameResult result;
    result.name = fields[0];
    result.outcome = fields[1];
    result.id = fields[2];
    result.width = std::strtof(fields[3].c_str(), nullptr);
    result.height = std::strtof(fields[4].c_str(), nullptr);
    for (int i = 0; i < 16; ++i) result.pose[i] = std::strtof(fields[5 + i].c_str(), nullptr);
    results->push_back(result);
  }
  return true;
}

// Largest distance, in target pixels, between where the two poses put the
// target's four corners in the camera frame.
double cornerDeviation(const FrameResult& a, const FrameResult& b) {
  const double corners[4][2] = {{0, 0}, {a.width, 0}, {0, a.height}, {a.width, a.height}};
  double largest = 0;
  for (const auto& corner : corners) {
    double squared = 0;
    for (int row = 0; row < 3; ++row) {
      const double pa = a.pose[row] * corner[0] + a.pose[4 + row] * corner[1] + a.pose[12 + row];
      const double pb = b.pose[row] * corner[0] + b.pose[4 + row] * corner[1] + b.pose[12 + row];
      squared += (pa - pb) * (pa - pb);
    }
    largest = std::max(largest, std::sqrt(squared));
  }
  return largest;
}

// Prints one line per disagreement and a summary; true when they agree.
bool compare(const std::vector<FrameResult>& ours, const std::vector<FrameResult>& theirs,
             double tolerance) {
  if (ours.size() != theirs.size()) {
    std::printf("frame count differs: %zu here, %zu in the reference\n", ours.size(),
                theirs.size());
    return false;
  }
  int disagreements = 0;
  int tracked = 0;
  double largest = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    const FrameResult& a = ours[i];
    const FrameResult& b = theirs[i];
    if (a.name != b.name || a.outcome != b.outcome || a.id != b.id || a.width != b.width ||
        a.height != b.height) {
      std::printf("%s: %s %s here, %s %s %s in the reference\n", a.name.c_str(), a.outcome.c_str(),
                  a.id.c_str(), b.name.c_str(), b.outcome.c_str(), b.id.c_str());
      ++disagreements;
      continue;
    }
    if (a.outcome != "Success") continue;
    ++tracked;
    const double deviation = cornerDeviation(a, b);
    largest = std::max(largest, deviation);
    if (!(deviation <= tolerance)) {
      std::printf("%s: pose differs by %.4f target pixels\n", a.name.c_str(), deviation);
      ++disagreements;
    }
  }
  std::printf("%zu frames, %d tracked, largest pose difference %.6f target pixels, %d disagree\n",
              ours.size(), tracked, largest, disagreements);
  return disagreements == 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: vornik-parity --assets DIR --group FILE --appdata DIR --work DIR --out FILE"
               " [--reference FILE [--tolerance PIXELS]] FRAME...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--assets" && hasValue) {
      options.assets = argv[++i];
    } else if (argument == "--group" && hasValue) {
      options.group = argv[++i];
    } else if (argument == "--appdata" && hasValue) {
      options.appData = argv[++i];
    } else if (argument == "--work" && hasValue) {
      options.work = argv[++i];
    } else if (argument == "--out" && hasValue) {
      options.out = argv[++i];
    } else if (argument == "--reference" && hasValue) {
      options.reference = argv[++i];
    } else if (argument == "--tolerance" && hasValue) {
      options.tolerance = std::atof(argv[++i]);
    } else if (argument.rfind("--", 0) == 0) {
      return usage();
    } else {
      options.frames.push_back(argument);
    }
  }
  if (options.assets.empty() || options.group.empty() || options.appData.empty() ||
      options.work.empty() || options.out.empty() || options.frames.empty()) {
    return usage();
  }

  std::vector<FrameResult> results;
  if (!runFrames(options, &results) || !writeResults(options.out, results)) return 1;
  if (options.reference.empty()) return 0;
  std::vector<FrameResult> reference;
  if (!readResults(options.reference, &reference)) return 1;
  return compare(results, reference, options.tolerance) ? 0 : 1;
}
