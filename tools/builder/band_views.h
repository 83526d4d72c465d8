#pragma once
#include <array>
#include <cstdint>
#include <random>
#include <string>

#include "common/camera_simulation.h"
#include "common/image_io.h"
#include "common/synthetic_view.h"
#include "common/view_geometry.h"
#include "manager/candidate_acquisition.h"
#include "manager/trackable.h"
#include "recognition/recognizer.h"
#include "tracking/tracker.h"

namespace vornik {

// Realistic camera views of a target in bands of size and tilt, and the
// library's recognition and initial pose judged on them: shared by the
// acquisition evaluation and the fresh-view figures of vornik-mkdb --list.

// Pose counts as right when every target corner lies within this distance
// of the truth.
constexpr double kGoodCornerErrorPx = 5.0;
// In-plane rotation of every band's views, either way.
constexpr double kMaxRotationDeg = 45.0;

// A class of views: the target's frontal width as a share of the frame
// width and its tilt away from facing the camera.
struct Band {
  const char* name;
  double minWidth, maxWidth;  // shares of the frame width
  double minTiltDeg, maxTiltDeg;
};

constexpr int kBandCount = 4;
// frontal, small, steep, far.
extern const Band kBands[kBandCount];

// Everything that fixes one rendered frame, drawn from its seed.
struct BandFrame {
  uint32_t seed = 0;
  ViewParams view;
  CameraEffects effects;  // background left to the caller
  FrameTruth truth;
};

// A random view of `band` with the whole W x H target inside the frame:
// the view is redrawn until its four corners fit, the offset drawn within
// the room they leave. False when no view fits (a target too long for the
// frame at that width).
bool randomBandView(const Band& band, int targetWidth, int targetHeight, const CameraModel& camera,
                    std::mt19937* rng, ViewParams* view);

// Mixes a seed with a stream number, so that views, cameras and shots drawn
// from related seeds are unrelated.
uint32_t mixSeed(uint32_t seed, uint32_t stream);

// View and camera effects of one frame from its seed; `background` is the
// photo behind the target.
bool drawBandFrame(const Band& band, int targetWidth, int targetHeight, const CameraModel& camera,
                   const Image* background, uint32_t seed, BandFrame* frame);

// Renders the frame; `shot` 0 is the frame itself, later shots are the same
// view and camera with fresh sensor noise (a still camera's next frames).
bool renderBandFrame(const Image& target, const BandFrame& frame, int shot, RenderedView* view,
                     std::string* error);

// Frame positions of the outer corners of the stored target image under a
// pose as the library reports it (column-major, translation in target
// pixels, the plane centred on the image's integer centre, Y up). False when
// a corner is behind the camera.
bool resultCorners(const Trackable& result, const CameraModel& camera,
                   std::array<double, 8>* corners);

// A frame without a target: the background photo seen by the camera drawn
// from `seed`.
bool renderFreeFrame(const Image* background, const CameraModel& camera, uint32_t seed,
                     RenderedView* view, std::string* error);

// Largest distance between corresponding corners.
double cornerError(const std::array<double, 8>& a, const std::array<double, 8>& b);

// The name a recognition text gives, empty when none.
std::string recognisedName(const std::string& resultText);

enum class Verdict { kNone, kRight, kWrong };
const char* verdictName(Verdict verdict);

// Recognition and initial pose on one frame, as the still-image test mode
// 1 runs them.
struct PoseOutcome {
  Verdict verdict = Verdict::kNone;
  std::string named;
  bool posed = false;   // pose found for the named target
  double error = -1.0;  // corner error of that pose when the target is right
  double recognizeMs = 0.0;
  double poseMs = -1.0;  // initial pose call, when one was made
  // Where the right target stood among the recognizer's pose candidates
  // (0: strongest), -1 where it was none of them or candidates are off.
  int truthRank = -1;
  bool good() const { return verdict == Verdict::kRight && posed && error <= kGoodCornerErrorPx; }
};

// `truth`: the target's name and corners in the frame (empty name for a
// target-free frame). A null tracker only recognises. The tracker's keyframe
// target is cleared afterwards.
PoseOutcome recogniseAndPose(Recognizer* recognizer, Tracker* tracker, const RenderedView& frame,
                             const std::string& truthName, const CameraModel& camera);

}  // namespace vornik
