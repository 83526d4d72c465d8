#pragma once
#include <cstdint>
#include <vector>

#include "tracking/matrix.h"
#include "tracking/pose_types.h"

namespace vornik {

// Damped (Levenberg-Marquardt) steps at most, and the fewest plane points,
// of fitRigidPose.
constexpr int32_t kRigidFitIterations = 10;
constexpr int32_t kRigidFitMinPoints = 4;
// Plane points a caller needs to pass at most: more add time, not accuracy.
constexpr int32_t kRigidFitMaxPoints = 64;

// The rigid pose whose projection best matches homography `g` (target plane
// in units of the target width to camera pixels) at the plane points
// `planeXY` (x0, y0, x1, y1, ...), starting from `*pose`: Levenberg-Marquardt
// over the pose's motion vector, in the pinhole model of focal length `width`.
// A homography fitted to the matches of a small or distant target is right
// where its matches are, while its decomposition (whose first two columns
// are then far from orthogonal) can put the target's corners several times
// further off. Returns true with `*pose` replaced where the fit lowered the
// mean squared distance; false, leaving it alone, otherwise (too few points,
// a point behind the camera, a singular step).
bool fitRigidPose(const Matrix& g, const std::vector<float>& planeXY, int32_t width,
                  int32_t height, Mat44f* pose);

}  // namespace vornik
