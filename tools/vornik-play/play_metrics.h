#pragma once
#include <array>
#include <vector>

#include "common/view_geometry.h"

namespace vornik {

// Corner distance under which a frame counts as well tracked.
constexpr double kGoodCornerErrorPx = 5.0;

// Frame position of a target point under a pose as the library reports it:
// 16 floats column-major, translation in target pixels. (x, y) are target
// pixels, z is target pixels out of the target's face towards the viewer.
// Camera: focal length = frame width, principal point (w >> 1, h >> 1).
// False when the point is not in front of the camera.
bool projectWithResultPose(const float pose[16], int targetWidth, int targetHeight, int frameWidth,
                           int frameHeight, double x, double y, double z, double* u, double* v);

// The outer corners of the target image (top-left, top-right, bottom-right,
// bottom-left; pixel centres on integers, so the outer corners lie half a
// pixel outside them), as x0,y0 .. x3,y3. False when one is behind the camera.
bool projectTargetCorners(const float pose[16], int targetWidth, int targetHeight, int frameWidth,
                          int frameHeight, std::array<double, 8>* corners);

// Largest distance between corresponding corners.
double cornerError(const std::array<double, 8>& a, const std::array<double, 8>& b);

// One frame as far as the evaluation against ground truth is concerned.
struct FrameEvaluation {
  bool inView = false;              // the ground truth shows the whole target
  bool posed = false;               // the library reported a pose
  double error = 0.0;               // corner error in pixels when posed
  std::array<double, 8> corners{};  // reported corners when posed
  PoseMatrix truthPose{};
};

struct EvaluationSummary {
  int frames = 0;
  int inViewFrames = 0;
  int withinGood = 0;            // in view, posed and within kGoodCornerErrorPx
  double shareWithinGood = 0.0;  // withinGood / inViewFrames
  int posedInView = 0;
  double meanError = 0.0;   // over posed in-view frames
  bool staticView = false;  // every ground-truth pose the same
  double jitterPx = 0.0;    // static views: mean standard deviation of the corner coordinates
  // Re-acquisition after the target left the view and came back: -1 when it
  // never left and came back, -2 when it was not re-acquired, otherwise the
  // frames from its return to the first frame within kGoodCornerErrorPx.
  int reacquireFrames = -1;
  int returnFrame = -1;
};

EvaluationSummary summarise(const std::vector<FrameEvaluation>& frames);

}  // namespace vornik
