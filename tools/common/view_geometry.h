#pragma once
#include <array>

namespace vornik {

// Camera-from-target pose, 4x4 row-major: rows 0..2 are [R | t], row 3 is
// (0, 0, 0, 1). Target-plane coordinates are in units of the target width:
// X = (x - W/2) / W, Y = (H/2 - y) / W, Z = 0 (integer halves, Y up). The
// camera looks along +z with x right and y down.
using PoseMatrix = std::array<double, 16>;

PoseMatrix identityPose();
PoseMatrix multiplyPoses(const PoseMatrix& a, const PoseMatrix& b);

// Pinhole camera of the library: focal length = frame width in pixels,
// principal point (w >> 1, h >> 1).
struct CameraModel {
  int width = 640;
  int height = 480;
  double focal() const { return width; }
  double cx() const { return width >> 1; }
  double cy() const { return height >> 1; }
};

// A view described the way a person holds a camera: the target is turned by
// `rotationDeg` in its own plane (counter-clockwise on screen), then tilted
// by `tiltDeg` away from facing the camera; `tiltDirectionDeg` is the frame
// direction (0 = along x, 90 = along y) in which the target appears
// foreshortened, its side in that direction turned towards the camera.
// `widthFraction` sets the distance: a frontal target at that
// distance spans this fraction of the frame width. The target centre appears
// at the frame centre shifted by (offsetX * width, offsetY * height).
struct ViewParams {
  double tiltDeg = 0.0;
  double tiltDirectionDeg = 0.0;
  double rotationDeg = 0.0;
  double widthFraction = 0.5;
  double offsetX = 0.0;
  double offsetY = 0.0;
};

PoseMatrix poseFromView(const ViewParams& view, const CameraModel& camera);

// Target pixel (x, y) of a W x H target mapped into the frame. Returns false
// when the point is not in front of the camera.
bool projectTargetPixel(const PoseMatrix& cameraFromTarget, int targetWidth, int targetHeight,
                        const CameraModel& camera, double x, double y, double* u, double* v);

// Where one frame shows the target.
struct FrameTruth {
  PoseMatrix cameraFromTarget{};
  // Outer corners of the target image in frame pixels, x0,y0 .. x3,y3 in the
  // order top-left, top-right, bottom-right, bottom-left. Pixel centres sit
  // on integer coordinates, so the outer corners of a W x H image are at
  // (-0.5, -0.5) and (W - 0.5, H - 0.5) in target pixels.
  std::array<double, 8> corners{};
  // All four corners in front of the camera and inside the frame.
  bool fullyInView = false;
};

FrameTruth computeFrameTruth(const PoseMatrix& cameraFromTarget, int targetWidth, int targetHeight,
                             const CameraModel& camera);

}  // namespace vornik
