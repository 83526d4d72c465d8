#include "common/view_geometry.h"

#include <cmath>

namespace vornik {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMinDepth = 1e-9;

double radians(double degrees) { return degrees * kPi / 180.0; }

using Matrix3 = std::array<double, 9>;

Matrix3 multiply3(const Matrix3& a, const Matrix3& b) {
  Matrix3 c{};
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k)
      for (int j = 0; j < 3; ++j) c[3 * r + j] += a[3 * r + k] * b[3 * k + j];
  return c;
}

// Rotation by `angle` about the unit axis (ax, ay, az).
Matrix3 axisRotation(double ax, double ay, double az, double angle) {
  const double c = std::cos(angle), s = std::sin(angle), k = 1.0 - c;
  return {c + k * ax * ax,      k * ax * ay - s * az, k * ax * az + s * ay,
          k * ay * ax + s * az, c + k * ay * ay,      k * ay * az - s * ax,
          k * az * ax - s * ay, k * az * ay + s * ax, c + k * az * az};
}

}  // namespace

PoseMatrix identityPose() {
  PoseMatrix m{};
  m[0] = m[5] = m[10] = m[15] = 1.0;
  return m;
}

PoseMatrix multiplyPoses(const PoseMatrix& a, const PoseMatrix& b) {
  PoseMatrix c{};
  for (int r = 0; r < 4; ++r)
    for (int k = 0; k < 4; ++k)
      for (int j = 0; j < 4; ++j) c[4 * r + j] += a[4 * r + k] * b[4 * k + j];
  return c;
}

PoseMatrix poseFromView(const ViewParams& view, const CameraModel& camera) {
  // Facing the camera upright: target x to frame x, target y (up) to -y,
  // target normal towards the camera.
  const Matrix3 facing = {1, 0, 0, 0, -1, 0, 0, 0, -1};
  const Matrix3 inPlane = axisRotation(0, 0, 1, radians(view.rotationDeg));
  // Turning about the frame axis perpendicular to the tilt direction
  // foreshortens the target along that direction.
  const double direction = radians(view.tiltDirectionDeg);
  const Matrix3 tilt =
      axisRotation(-std::sin(direction), std::cos(direction), 0, radians(view.tiltDeg));
  const Matrix3 r = multiply3(tilt, multiply3(facing, inPlane));

  const double depth = 1.0 / view.widthFraction;
  PoseMatrix pose{};
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) pose[4 * row + col] = r[3 * row + col];
  pose[3] = depth * view.offsetX * camera.width / camera.focal();
  pose[7] = depth * view.offsetY * camera.height / camera.focal();
  pose[11] = depth;
  pose[15] = 1.0;
  return pose;
}

bool projectTargetPixel(const PoseMatrix& p, int targetWidth, int targetHeight,
                        const CameraModel& camera, double x, double y, double* u, double* v) {
  const double w = targetWidth;
  const double planeX = (x - (targetWidth / 2)) / w;
  const double planeY = ((targetHeight / 2) - y) / w;
  const double xc = p[0] * planeX + p[1] * planeY + p[3];
  const double yc = p[4] * planeX + p[5] * planeY + p[7];
  const double zc = p[8] * planeX + p[9] * planeY + p[11];
  if (std::fabs(zc) < kMinDepth) {
    *u = *v = 0.0;
    return false;
  }
  *u = camera.focal() * xc / zc + camera.cx();
  *v = camera.focal() * yc / zc + camera.cy();
  return zc > 0.0;
}

FrameTruth computeFrameTruth(const PoseMatrix& cameraFromTarget, int targetWidth, int targetHeight,
                             const CameraModel& camera) {
  FrameTruth truth;
  truth.cameraFromTarget = cameraFromTarget;
  const double right = targetWidth - 0.5, bottom = targetHeight - 0.5;
  const double cornerX[4] = {-0.5, right, right, -0.5};
  const double cornerY[4] = {-0.5, -0.5, bottom, bottom};
  bool inView = true;
  for (int i = 0; i < 4; ++i) {
    double u = 0, v = 0;
    const bool inFront = projectTargetPixel(cameraFromTarget, targetWidth, targetHeight, camera,
                                            cornerX[i], cornerY[i], &u, &v);
    truth.corners[2 * i] = u;
    truth.corners[2 * i + 1] = v;
    inView = inView && inFront && u >= -0.5 && u <= camera.width - 0.5 && v >= -0.5 &&
             v <= camera.height - 0.5;
  }
  truth.fullyInView = inView;
  return truth;
}

}  // namespace vornik
