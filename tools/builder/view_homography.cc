#include "builder/view_homography.h"

#include <cmath>

namespace vornik {

Homography targetToFrameHomography(const PoseMatrix& pose, int targetWidth, int targetHeight,
                                   const CameraModel& camera) {
  const double w = targetWidth;
  const double halfW = targetWidth >> 1;
  const double halfH = targetHeight >> 1;
  // Columns of [r1 r2 t] after the pixel-to-plane map X = (x - W/2) / W,
  // Y = (H/2 - y) / W.
  double m[3][3];
  for (int r = 0; r < 3; ++r) {
    const double r1 = pose[4 * r + 0];
    const double r2 = pose[4 * r + 1];
    const double t = pose[4 * r + 3];
    m[r][0] = r1 / w;
    m[r][1] = -r2 / w;
    m[r][2] = t - r1 * halfW / w + r2 * halfH / w;
  }
  const double f = camera.focal();
  Homography h{};
  for (int c = 0; c < 3; ++c) {
    h[0 + c] = f * m[0][c] + camera.cx() * m[2][c];
    h[3 + c] = f * m[1][c] + camera.cy() * m[2][c];
    h[6 + c] = m[2][c];
  }
  return h;
}

bool invertHomography(const Homography& h, Homography* inverse) {
  const double a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7],
               l = h[8];
  const double c00 = e * l - f * k, c01 = -(d * l - f * g), c02 = d * k - e * g;
  const double det = a * c00 + b * c01 + c * c02;
  if (!(std::fabs(det) > 1e-300)) return false;
  const double s = 1.0 / det;
  *inverse = {c00 * s, -(b * l - c * k) * s, (b * f - c * e) * s,
              c01 * s, (a * l - c * g) * s,  -(a * f - c * d) * s,
              c02 * s, -(a * k - b * g) * s, (a * e - b * d) * s};
  return true;
}

bool applyHomography(const Homography& h, double x, double y, double* u, double* v) {
  const double w = h[6] * x + h[7] * y + h[8];
  if (!(w > 1e-12)) return false;
  *u = (h[0] * x + h[1] * y + h[2]) / w;
  *v = (h[3] * x + h[4] * y + h[5]) / w;
  return true;
}

double localMagnification(const Homography& h, double x, double y) {
  double u0, v0, u1, v1, u2, v2;
  if (!applyHomography(h, x, y, &u0, &v0) || !applyHomography(h, x + 1.0, y, &u1, &v1) ||
      !applyHomography(h, x, y + 1.0, &u2, &v2)) {
    return 0.0;
  }
  const double area = std::fabs((u1 - u0) * (v2 - v0) - (v1 - v0) * (u2 - u0));
  return std::sqrt(area);
}

}  // namespace vornik
