#include "tracking/rigid_fit.h"

#include <algorithm>
#include <cmath>

#include "tracking/least_squares6.h"
#include "tracking/patch_search.h"
#include "tracking/se3.h"

namespace vornik {

namespace {

// Motion step of the numerical derivatives: small against the pose's
// translation (target widths) and rotation (radians), large against float
// rounding of pixel positions.
constexpr float kDerivativeStep = 1e-3f;
// Damping of the first step (a share of the mean diagonal), its floor, and
// the tries per step, each with ten times the damping of the last.
constexpr float kInitialDamping = 1e-3f;
constexpr float kMinDamping = 1e-6f;
constexpr int kDampingAttempts = 8;

// Sum of squared pixel distances between the pose's projections and the
// homography's; false where a point lies behind the camera. `residuals`
// gets 2 per point (projection minus homography).
bool residualsOf(const Mat44f& pose, const std::vector<float>& planeXY,
                 const std::vector<float>& targets, int32_t width, int32_t height,
                 std::vector<float>* residuals, double* sum) {
  residuals->resize(planeXY.size());
  double total = 0.0;
  for (size_t i = 0; i + 1 < planeXY.size(); i += 2) {
    float camera[3], normalized[2], pixel[2];
    projectPlanePoint(pose, planeXY[i], planeXY[i + 1], width, height, 0, camera, normalized,
                      pixel);
    if (!(camera[2] > 0.0f)) return false;
    (*residuals)[i] = pixel[0] - targets[i];
    (*residuals)[i + 1] = pixel[1] - targets[i + 1];
    total += static_cast<double>((*residuals)[i]) * (*residuals)[i] +
             static_cast<double>((*residuals)[i + 1]) * (*residuals)[i + 1];
  }
  if (!std::isfinite(total)) return false;
  *sum = total;
  return true;
}

}  // namespace

bool fitRigidPose(const Matrix& g, const std::vector<float>& planeXY, int32_t width,
                  int32_t height, Mat44f* pose) {
  const size_t count = planeXY.size() / 2;
  if (pose == nullptr || g.rows() != 3 || g.cols() != 3 || width <= 0 || height <= 0 ||
      count < static_cast<size_t>(kRigidFitMinPoints)) {
    return false;
  }
  std::vector<float> targets(2 * count);
  for (size_t i = 0; i < count; ++i) {
    const double x = planeXY[2 * i];
    const double y = planeXY[2 * i + 1];
    const double w = g(2, 0) * x + g(2, 1) * y + g(2, 2);
    if (!(std::fabs(w) > 0.0)) return false;
    targets[2 * i] = static_cast<float>((g(0, 0) * x + g(0, 1) * y + g(0, 2)) / w);
    targets[2 * i + 1] = static_cast<float>((g(1, 0) * x + g(1, 1) * y + g(1, 2)) / w);
  }

  Mat44f current = *pose;
  std::vector<float> residuals, plus, minus;
  double sum = 0.0;
  if (!residualsOf(current, planeXY, targets, width, height, &residuals, &sum)) return false;
  const double startSum = sum;
  std::vector<SixVector> jacobians(2 * count);
  std::vector<float> nextResiduals;
  // Levenberg-Marquardt damping, relative to the normal matrix's diagonal: a
  // distant target's rotation and translation nearly trade for each other,
  // and a plain Gauss-Newton step from a start 10-20 px off overshoots.
  float damping = kInitialDamping;
  for (int32_t iteration = 0; iteration < kRigidFitIterations; ++iteration) {
    // Central differences of a motion applied on the camera side.
    for (int k = 0; k < 6; ++k) {
      SixVector step;
      step[k] = kDerivativeStep;
      double unused = 0.0;
      if (!residualsOf(se3Exp(step) * current, planeXY, targets, width, height, &plus, &unused)) {
        return false;
      }
      step[k] = -kDerivativeStep;
      if (!residualsOf(se3Exp(step) * current, planeXY, targets, width, height, &minus, &unused)) {
        return false;
      }
      for (size_t r = 0; r < 2 * count; ++r) {
        jacobians[r][k] = (plus[r] - minus[r]) / (2.0f * kDerivativeStep);
      }
    }
    LeastSquares6 undamped;
    for (size_t r = 0; r < 2 * count; ++r) {
      undamped.addMeasurement(-residuals[r], jacobians[r], 1.0f);
    }
    float diagonal = 0.0f;
    for (int k = 0; k < 6; ++k) diagonal += undamped.normal(k, k);
    bool lowered = false;
    bool settled = false;
    for (int attempt = 0; attempt < kDampingAttempts && !lowered; ++attempt) {
      LeastSquares6 damped = undamped;
      damped.addToDiagonal(damping * diagonal / 6.0f);
      double nextSum = 0.0;
      if (damped.solve()) {
        const Mat44f next = se3Exp(damped.solution()) * current;
        if (residualsOf(next, planeXY, targets, width, height, &nextResiduals, &nextSum) &&
            nextSum < sum) {
          settled = nextSum > 0.999 * sum;
          current = next;
          residuals.swap(nextResiduals);
          sum = nextSum;
          damping = std::max(damping * 0.1f, kMinDamping);
          lowered = true;
          continue;
        }
      }
      damping *= 10.0f;
    }
    if (!lowered || settled) break;
  }
  if (!(sum < startSum)) return false;
  *pose = current;
  return true;
}

}  // namespace vornik
