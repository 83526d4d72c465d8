#include "builder/band_views.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vornik {
namespace {

// Views drawn before a band is given up for a target.
constexpr int kViewAttempts = 500;
// Offsets drawn per view before the view itself is redrawn.
constexpr int kOffsetAttempts = 8;

double elapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

// One round of a 32-bit integer finaliser over the seed and the stream.
uint32_t mixSeed(uint32_t seed, uint32_t stream) {
  uint32_t x = seed ^ (stream * 0x9E3779B9u);
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

const Band kBands[kBandCount] = {
    {"frontal", 0.35, 0.70, 0.0, 25.0},
    {"small", 0.15, 0.30, 0.0, 30.0},
    {"steep", 0.40, 0.70, 40.0, 60.0},
    {"far", 0.10, 0.15, 0.0, 20.0},
};

bool randomBandView(const Band& band, int targetWidth, int targetHeight, const CameraModel& camera,
                    std::mt19937* rng, ViewParams* view) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int attempt = 0; attempt < kViewAttempts; ++attempt) {
    ViewParams v;
    v.widthFraction = band.minWidth + unit(*rng) * (band.maxWidth - band.minWidth);
    v.tiltDeg = band.minTiltDeg + unit(*rng) * (band.maxTiltDeg - band.minTiltDeg);
    v.tiltDirectionDeg = unit(*rng) * 360.0;
    v.rotationDeg = (2.0 * unit(*rng) - 1.0) * kMaxRotationDeg;
    const FrameTruth centred =
        computeFrameTruth(poseFromView(v, camera), targetWidth, targetHeight, camera);
    double minX = centred.corners[0], maxX = minX, minY = centred.corners[1], maxY = minY;
    for (int i = 1; i < 4; ++i) {
      minX = std::min(minX, centred.corners[2 * i]);
      maxX = std::max(maxX, centred.corners[2 * i]);
      minY = std::min(minY, centred.corners[2 * i + 1]);
      maxY = std::max(maxY, centred.corners[2 * i + 1]);
    }
    // Room to move the outline's bounding box without leaving the frame.
    const double left = minX + 0.5, right = camera.width - 0.5 - maxX;
    const double up = minY + 0.5, down = camera.height - 0.5 - maxY;
    if (left < 0.0 || right < 0.0 || up < 0.0 || down < 0.0) continue;
    // Perspective moves near corners more than far ones: check the shifted
    // outline itself.
    for (int tries = 0; tries < kOffsetAttempts; ++tries) {
      v.offsetX = (-left + unit(*rng) * (left + right)) / camera.width;
      v.offsetY = (-up + unit(*rng) * (up + down)) / camera.height;
      if (computeFrameTruth(poseFromView(v, camera), targetWidth, targetHeight, camera)
              .fullyInView) {
        *view = v;
        return true;
      }
    }
  }
  return false;
}

bool drawBandFrame(const Band& band, int targetWidth, int targetHeight, const CameraModel& camera,
                   const Image* background, uint32_t seed, BandFrame* frame) {
  std::mt19937 rng(mixSeed(seed, 1));
  if (!randomBandView(band, targetWidth, targetHeight, camera, &rng, &frame->view)) return false;
  frame->seed = seed;
  frame->effects = randomCameraEffects(seed, camera);
  frame->effects.camera = camera;
  frame->effects.background = background;
  frame->truth =
      computeFrameTruth(poseFromView(frame->view, camera), targetWidth, targetHeight, camera);
  return true;
}

bool renderBandFrame(const Image& target, const BandFrame& frame, int shot, RenderedView* view,
                     std::string* error) {
  CameraEffects effects = frame.effects;
  if (shot > 0) effects.seed = mixSeed(frame.seed, 100 + static_cast<uint32_t>(shot));
  return renderCameraView(&target, poseFromView(frame.view, effects.camera), effects, view, error);
}

bool renderFreeFrame(const Image* background, const CameraModel& camera, uint32_t seed,
                     RenderedView* view, std::string* error) {
  CameraEffects effects = randomCameraEffects(seed, camera);
  effects.camera = camera;
  effects.background = background;
  return renderCameraView(nullptr, poseFromView(ViewParams(), camera), effects, view, error);
}

bool resultCorners(const Trackable& result, const CameraModel& camera,
                   std::array<double, 8>* corners) {
  const int w = static_cast<int>(result.getWidth());
  const int h = static_cast<int>(result.getHeight());
  if (w <= 0 || h <= 0) return false;
  const float* pose = result.getPose();
  const double right = w - 0.5, bottom = h - 0.5;
  const double xs[4] = {-0.5, right, right, -0.5};
  const double ys[4] = {-0.5, -0.5, bottom, bottom};
  for (int i = 0; i < 4; ++i) {
    const double X = xs[i] - (w / 2);
    const double Y = (h / 2) - ys[i];
    const double xc = pose[0] * X + pose[4] * Y + pose[12];
    const double yc = pose[1] * X + pose[5] * Y + pose[13];
    const double zc = pose[2] * X + pose[6] * Y + pose[14];
    if (!(zc > 1e-9)) return false;
    (*corners)[2 * i] = camera.focal() * xc / zc + camera.cx();
    (*corners)[2 * i + 1] = camera.focal() * yc / zc + camera.cy();
  }
  return std::all_of(corners->begin(), corners->end(), [](double c) { return std::isfinite(c); });
}

double cornerError(const std::array<double, 8>& a, const std::array<double, 8>& b) {
  double worst = 0.0;
  for (int i = 0; i < 4; ++i) {
    worst = std::max(worst, std::hypot(a[2 * i] - b[2 * i], a[2 * i + 1] - b[2 * i + 1]));
  }
  return worst;
}

std::string recognisedName(const std::string& resultText) {
  std::string id;
  return extractTargetId(resultText, &id) ? id : std::string();
}

const char* verdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kNone:
      return "none";
    case Verdict::kRight:
      return "right";
    case Verdict::kWrong:
      return "wrong";
  }
  return "unknown";
}

PoseOutcome recogniseAndPose(Recognizer* recognizer, Tracker* tracker, const RenderedView& frame,
                             const std::string& truthName, const CameraModel& camera) {
  PoseOutcome out;
  std::string text;
  const Image& image = frame.frame;
  CandidateAcquisition acquisition;
  auto start = std::chrono::steady_clock::now();
  const int32_t status = acquisition.recognize(recognizer, tracker, image.width, image.height, 0,
                                               image.pixels.data(), text, "");
  out.recognizeMs = elapsedMs(start);
  const std::vector<RecognitionCandidate>& candidates = recognizer->candidates();
  for (size_t i = 0; i < candidates.size() && !truthName.empty(); ++i) {
    if (candidates[i].name == truthName) out.truthRank = static_cast<int>(i);
  }
  if (status != kRecognized) return out;
  const auto judge = [&](const std::string& named) {
    out.named = named;
    out.verdict = !truthName.empty() && named == truthName ? Verdict::kRight : Verdict::kWrong;
  };
  // Candidates alone name nothing until one of them is posed.
  if (acquisition.won()) judge(recognisedName(text));
  if (tracker == nullptr) return out;

  Trackable result;
  tracker->setKeyframeTargetId("");
  start = std::chrono::steady_clock::now();
  const int32_t code = acquisition.track(tracker, image.pixels.data(), result, "", text);
  out.poseMs = elapsedMs(start);
  tracker->setKeyframeTargetId("");
  out.posed = code == kTrackOk;
  if (out.posed) judge(recognisedName(acquisition.trackedText(text)));
  std::array<double, 8> corners{};
  if (out.posed && out.verdict == Verdict::kRight && resultCorners(result, camera, &corners)) {
    out.error = cornerError(corners, frame.truth.corners);
  }
  return out;
}

}  // namespace vornik
