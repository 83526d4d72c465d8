// vornik-synth: renders synthetic camera frames of an image target with
// exact ground truth (pose and corners), for tests and evaluations.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ground_truth.h"
#include "common/image_io.h"
#include "common/pose_sequence.h"
#include "common/synthetic_view.h"
#include "features/random.h"

namespace {

using namespace vornik;

constexpr int kDefaultJpegQuality = 95;
constexpr double kStaticDefaultNoise = 2.0;
constexpr int kMaxFrames = 1000000;

const char kUsage[] =
    "Usage: vornik-synth --target IMG --out DIR MODE [options]\n"
    "\n"
    "Renders camera frames of a planar image target and writes them as\n"
    "DIR/frame_00000.jpg ... together with DIR/ground_truth.csv (pose,\n"
    "target corners in pixels and an in-view flag per frame).\n"
    "\n"
    "Modes (exactly one):\n"
    "  --view                 one view, set by:\n"
    "      --tilt DEG             tilt away from frontal (default 0)\n"
    "      --tilt-direction DEG   frame direction of the foreshortening, 0 = x (default 0)\n"
    "      --rotation DEG         in-plane rotation, counter-clockwise (default 0)\n"
    "      --width FRACTION       frontal target width / frame width (default 0.5)\n"
    "      --offset X,Y           centre shift in frame widths and heights (default 0,0)\n"
    "  --random N             N views sampled uniformly from:\n"
    "      --tilt-range A,B       degrees (default 0,60); tilt direction is uniform 0..360\n"
    "      --width-range A,B      width fractions (default 0.15,1.0)\n"
    "      --rotation-range A,B   degrees (default 0,360)\n"
    "      --offset-range R       centre shift up to +-R in each axis (default 0.1)\n"
    "  --sequence KIND        a camera motion: orbit, approach, shake, pan, static\n"
    "                         (fixed view; noise defaults to 2), reenter (the target\n"
    "                         leaves the frame and comes back), zoom (10 % of the\n"
    "                         frame width to 90 % and back), recede (90 % to 10 %) or\n"
    "                         near (fixed view at 70 %; noise defaults to 2)\n"
    "      --frames N             number of frames (default 300)\n"
    "\n"
    "Options:\n"
    "  --target IMG           target image, JPEG or PNG (required)\n"
    "  --out DIR              output folder, created if missing (required)\n"
    "  --background IMG       photo behind the target, scaled and cropped to the frame\n"
    "  --clutter              procedural busy background instead of flat grey\n"
    "  --size WxH             frame size (default 640x480)\n"
    "  --noise SIGMA          Gaussian noise in grey levels (default 0)\n"
    "  --blur R               blur: Gaussian sigma, or box half-width (default 0)\n"
    "  --blur-type TYPE       gaussian or box (default gaussian)\n"
    "  --brightness B         grey levels added (default 0)\n"
    "  --contrast C           gain about grey 128 (default 1)\n"
    "  --jpeg-quality Q       JPEG quality 1..100 of the frames (default 95); with --png\n"
    "                         the frames are JPEG re-compressed at Q before saving\n"
    "  --png                  write lossless PNG frames instead of JPEG\n"
    "  --seed S               seed of noise, clutter and random views (default 1)\n"
    "  --help                 this text\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "vornik-synth: error: %s\n", message.c_str());
  return 1;
}

bool parseNumber(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && std::isfinite(*value);
}

bool parseInteger(const std::string& text, long lo, long hi, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end == text.c_str() + text.size() && *value >= lo && *value <= hi;
}

bool parsePair(const std::string& text, char separator, double* a, double* b) {
  const size_t at = text.find(separator);
  return at != std::string::npos && parseNumber(text.substr(0, at), a) &&
         parseNumber(text.substr(at + 1), b);
}

struct Settings {
  std::string target, out, background;
  bool clutter = false, png = false;
  int width = 640, height = 480;
  double noise = 0.0;
  bool noiseGiven = false;
  double blur = 0.0;
  BlurKind blurKind = BlurKind::kGaussian;
  double brightness = 0.0, contrast = 1.0;
  int jpegQuality = 0;
  uint32_t seed = 1;
  enum class Mode { kNone, kView, kRandom, kSequence } mode = Mode::kNone;
  int modeCount = 0;
  ViewParams view;
  long randomCount = 0;
  double tiltMin = 0.0, tiltMax = 60.0;
  double widthMin = 0.15, widthMax = 1.0;
  double rotationMin = 0.0, rotationMax = 360.0;
  double offsetRange = 0.1;
  SequenceKind sequence = SequenceKind::kOrbit;
  long frames = kDefaultSequenceFrames;
};

// Parses the command line; returns false with `error` set on bad input.
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
    auto bad = [&](const std::string& text, const std::string& expected) {
      *error = "bad value '" + text + "' for " + name + " (expected " + expected + ")";
      return false;
    };
    std::string text;
    double number = 0.0;
    long integer = 0;
    if (name == "--help" || name == "-h") {
      *help = true;
      return true;
    } else if (name == "--target") {
      if (!value(&s->target)) return false;
    } else if (name == "--out") {
      if (!value(&s->out)) return false;
    } else if (name == "--background") {
      if (!value(&s->background)) return false;
    } else if (name == "--clutter") {
      s->clutter = true;
    } else if (name == "--png") {
      s->png = true;
    } else if (name == "--size") {
      if (!value(&text)) return false;
      const size_t x = text.find('x');
      long w = 0, h = 0;
      if (x == std::string::npos || !parseInteger(text.substr(0, x), 16, 8192, &w) ||
          !parseInteger(text.substr(x + 1), 16, 8192, &h)) {
        return bad(text, "WxH, each side 16..8192");
      }
      s->width = static_cast<int>(w);
      s->height = static_cast<int>(h);
    } else if (name == "--noise") {
      if (!value(&text)) return false;
      if (!parseNumber(text, &s->noise) || s->noise < 0) return bad(text, "a number >= 0");
      s->noiseGiven = true;
    } else if (name == "--blur") {
      if (!value(&text)) return false;
      if (!parseNumber(text, &s->blur) || s->blur < 0 || s->blur > 100) {
        return bad(text, "a number 0..100");
      }
    } else if (name == "--blur-type") {
      if (!value(&text)) return false;
      if (text == "gaussian") {
        s->blurKind = BlurKind::kGaussian;
      } else if (text == "box") {
        s->blurKind = BlurKind::kBox;
      } else {
        return bad(text, "gaussian or box");
      }
    } else if (name == "--brightness") {
      if (!value(&text)) return false;
      if (!parseNumber(text, &s->brightness)) return bad(text, "a number");
    } else if (name == "--contrast") {
      if (!value(&text)) return false;
      if (!parseNumber(text, &s->contrast) || s->contrast < 0) return bad(text, "a number >= 0");
    } else if (name == "--jpeg-quality") {
      if (!value(&text)) return false;
      if (!parseInteger(text, 1, 100, &integer)) return bad(text, "an integer 1..100");
      s->jpegQuality = static_cast<int>(integer);
    } else if (name == "--seed") {
      if (!value(&text)) return false;
      if (!parseInteger(text, 0, 4294967295L, &integer)) return bad(text, "an integer >= 0");
      s->seed = static_cast<uint32_t>(integer);
    } else if (name == "--view") {
      s->mode = Settings::Mode::kView;
      ++s->modeCount;
    } else if (name == "--random") {
      if (!value(&text)) return false;
      if (!parseInteger(text, 1, kMaxFrames, &s->randomCount)) return bad(text, "a count >= 1");
      s->mode = Settings::Mode::kRandom;
      ++s->modeCount;
    } else if (name == "--sequence") {
      if (!value(&text)) return false;
      if (!parseSequenceKind(text, &s->sequence)) {
        return bad(text, "orbit, approach, shake, pan, static, reenter, zoom, recede or near");
      }
      s->mode = Settings::Mode::kSequence;
      ++s->modeCount;
    } else if (name == "--frames") {
      if (!value(&text)) return false;
      if (!parseInteger(text, 1, kMaxFrames, &s->frames)) return bad(text, "a count >= 1");
    } else if (name == "--tilt") {
      if (!value(&text)) return false;
      if (!parseNumber(text, &number) || number < 0 || number >= 90) {
        return bad(text, "degrees 0..90");
      }
      s->view.tiltDeg = number;
    } else if (name == "--tilt-direction") {
      if (!value(&text)) return false;
      if (!parseNumber(text, &s->view.tiltDirectionDeg)) return bad(text, "degrees");
    } else if (name == "--rotation") {
      if (!value(&text)) return false;
      if (!parseNumber(text, &s->view.rotationDeg)) return bad(text, "degrees");
    } else if (name == "--width") {
      if (!value(&text)) return false;
      if (!parseNumber(text, &number) || number <= 0 || number > 100) {
        return bad(text, "a fraction > 0");
      }
      s->view.widthFraction = number;
    } else if (name == "--offset") {
      if (!value(&text)) return false;
      if (!parsePair(text, ',', &s->view.offsetX, &s->view.offsetY)) return bad(text, "X,Y");
    } else if (name == "--tilt-range") {
      if (!value(&text)) return false;
      if (!parsePair(text, ',', &s->tiltMin, &s->tiltMax) || s->tiltMin < 0 || s->tiltMax >= 90 ||
          s->tiltMin > s->tiltMax) {
        return bad(text, "A,B with 0 <= A <= B < 90");
      }
    } else if (name == "--width-range") {
      if (!value(&text)) return false;
      if (!parsePair(text, ',', &s->widthMin, &s->widthMax) || s->widthMin <= 0 ||
          s->widthMin > s->widthMax) {
        return bad(text, "A,B with 0 < A <= B");
      }
    } else if (name == "--rotation-range") {
      if (!value(&text)) return false;
      if (!parsePair(text, ',', &s->rotationMin, &s->rotationMax) ||
          s->rotationMin > s->rotationMax) {
        return bad(text, "A,B with A <= B");
      }
    } else if (name == "--offset-range") {
      if (!value(&text)) return false;
      if (!parseNumber(text, &s->offsetRange) || s->offsetRange < 0) {
        return bad(text, "a number >= 0");
      }
    } else {
      *error = "unknown option '" + name + "' (see --help)";
      return false;
    }
  }
  if (s->target.empty()) {
    *error = "missing --target IMG (see --help)";
    return false;
  }
  if (s->out.empty()) {
    *error = "missing --out DIR (see --help)";
    return false;
  }
  if (s->modeCount != 1) {
    *error = "give exactly one of --view, --random N, --sequence KIND (see --help)";
    return false;
  }
  if (s->clutter && !s->background.empty()) {
    *error = "--background and --clutter exclude each other";
    return false;
  }
  return true;
}

double uniformIn(Random* random, double lo, double hi) {
  return lo + (hi - lo) * (random->next() / 4294967296.0);
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  bool help = false;
  std::string error;
  if (!parseArguments(argc, argv, &settings, &help, &error)) return fail(error);
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  Image target;
  if (!readImage(settings.target, &target, &error)) return fail(error);
  CameraModel camera;
  camera.width = settings.width;
  camera.height = settings.height;
  Image background;
  if (!settings.background.empty()) {
    Image photo;
    if (!readImage(settings.background, &photo, &error)) return fail(error);
    background = fitBackground(photo, camera.width, camera.height);
  } else if (settings.clutter) {
    background = makeClutter(camera.width, camera.height, settings.seed);
  }

  std::vector<ViewParams> views;
  switch (settings.mode) {
    case Settings::Mode::kView:
      views.push_back(settings.view);
      break;
    case Settings::Mode::kRandom: {
      Random random(settings.seed);
      for (long i = 0; i < settings.randomCount; ++i) {
        ViewParams view;
        view.tiltDeg = uniformIn(&random, settings.tiltMin, settings.tiltMax);
        view.tiltDirectionDeg = uniformIn(&random, 0.0, 360.0);
        view.rotationDeg = uniformIn(&random, settings.rotationMin, settings.rotationMax);
        view.widthFraction = uniformIn(&random, settings.widthMin, settings.widthMax);
        view.offsetX = uniformIn(&random, -settings.offsetRange, settings.offsetRange);
        view.offsetY = uniformIn(&random, -settings.offsetRange, settings.offsetRange);
        views.push_back(view);
      }
      break;
    }
    case Settings::Mode::kSequence:
      for (long i = 0; i < settings.frames; ++i) {
        views.push_back(sequenceView(settings.sequence, static_cast<int>(i),
                                     static_cast<int>(settings.frames)));
      }
      if ((settings.sequence == SequenceKind::kStatic ||
           settings.sequence == SequenceKind::kNear) &&
          !settings.noiseGiven) {
        settings.noise = kStaticDefaultNoise;
      }
      break;
    case Settings::Mode::kNone:
      break;
  }

  std::error_code fsError;
  std::filesystem::create_directories(settings.out, fsError);
  if (fsError || !std::filesystem::is_directory(settings.out)) {
    return fail("cannot create output folder '" + settings.out + "'");
  }

  ViewOptions options;
  options.camera = camera;
  options.background = background.empty() ? nullptr : &background;
  options.blur = settings.blur > 0 ? settings.blurKind : BlurKind::kNone;
  options.blurRadius = settings.blur;
  options.brightness = settings.brightness;
  options.contrast = settings.contrast;
  options.noiseSigma = settings.noise;
  // JPEG frames are compressed once, when saved; PNG frames only when asked.
  options.jpegQuality = settings.png ? settings.jpegQuality : 0;
  const int saveQuality = settings.jpegQuality > 0 ? settings.jpegQuality : kDefaultJpegQuality;

  std::vector<GroundTruthRow> rows;
  for (size_t i = 0; i < views.size(); ++i) {
    options.seed = settings.seed + 0x9E3779B9u * static_cast<uint32_t>(i + 1);
    RenderedView rendered;
    if (!renderView(target, poseFromView(views[i], camera), options, &rendered, &error)) {
      return fail(error);
    }
    char name[32];
    std::snprintf(name, sizeof(name), "frame_%05zu.%s", i, settings.png ? "png" : "jpg");
    const std::string path = settings.out + "/" + name;
    const bool written = settings.png ? writePng(path, rendered.frame, &error)
                                      : writeJpeg(path, rendered.frame, saveQuality, &error);
    if (!written) return fail(error);
    GroundTruthRow row;
    row.frameIndex = static_cast<int>(i);
    row.fileName = name;
    row.truth = rendered.truth;
    rows.push_back(std::move(row));
  }
  const std::string csv = settings.out + "/ground_truth.csv";
  if (!writeGroundTruth(csv, rows, &error)) return fail(error);
  std::printf("vornik-synth: wrote %zu frames and %s\n", rows.size(), csv.c_str());
  return 0;
}
