#pragma once
#include <array>

#include "common/view_geometry.h"

namespace vornik {

// Plane homography, row-major 3 x 3, acting on homogeneous (x, y, 1).
using Homography = std::array<double, 9>;

// Target pixel -> frame pixel for a W x H target seen with `cameraFromTarget`
// through the library's pinhole camera.
Homography targetToFrameHomography(const PoseMatrix& cameraFromTarget, int targetWidth,
                                   int targetHeight, const CameraModel& camera);

// False for a singular matrix.
bool invertHomography(const Homography& h, Homography* inverse);

// False when the point maps to infinity (or behind, for w <= 0).
bool applyHomography(const Homography& h, double x, double y, double* u, double* v);

// Frame pixels per target pixel around target pixel (x, y): the square root
// of the local area magnification, 0 where undefined.
double localMagnification(const Homography& h, double x, double y);

}  // namespace vornik
