#pragma once
// Test and benchmark helpers: a known camera-from-target pose and a frame
// rendered from a target image under it, with the pinhole model of the
// tracker (focal length = frame width, principal point at the centre).
#include <cmath>
#include <cstdint>
#include <vector>

#include "tracking/se3.h"

namespace vornik {
namespace test_scene {

constexpr int32_t kCamW = 640;
constexpr int32_t kCamH = 480;

// Camera from target plane (units of the target width).
struct TruePose {
  double r[3][3];
  double t[3];
};

inline TruePose makePose(float rx, float ry, float rz, double tx, double ty, double tz) {
  const Matrix33F rf = so3Exp(Vector3F(rx, ry, rz));
  TruePose p;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) p.r[i][j] = rf(i, j);
  p.t[0] = tx;
  p.t[1] = ty;
  p.t[2] = tz;
  return p;
}

// Target pixel (from the centre, y up) of a targetW-wide target to camera pixel.
inline void project(const TruePose& p, double x, double y, int32_t targetW, double* u, double* v) {
  const double X = x / targetW, Y = y / targetW;
  double c[3];
  for (int i = 0; i < 3; ++i) c[i] = p.r[i][0] * X + p.r[i][1] * Y + p.t[i];
  *u = kCamW * c[0] / c[2] + kCamW / 2.0;
  *v = kCamW * c[1] / c[2] + kCamH / 2.0;
}

// Renders the w x h grey target into a kCamW x kCamH grey frame under `pose`
// (bilinear, mid-grey outside the target).
inline std::vector<uint8_t> renderFrame(const std::vector<uint8_t>& target, int32_t w, int32_t h,
                                        const TruePose& pose) {
  // Frame pixel -> target plane: inverse of G = K [r1 r2 t], by cofactors.
  const double k[3][3] = {{kCamW, 0, kCamW / 2.0}, {0, kCamW, kCamH / 2.0}, {0, 0, 1}};
  double g[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      g[i][j] = 0;
      for (int l = 0; l < 3; ++l) g[i][j] += k[i][l] * (j < 2 ? pose.r[l][j] : pose.t[l]);
    }
  }
  const double det = g[0][0] * (g[1][1] * g[2][2] - g[1][2] * g[2][1]) -
                     g[0][1] * (g[1][0] * g[2][2] - g[1][2] * g[2][0]) +
                     g[0][2] * (g[1][0] * g[2][1] - g[1][1] * g[2][0]);
  double inv[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      const int a = (j + 1) % 3, b = (j + 2) % 3, c = (i + 1) % 3, d = (i + 2) % 3;
      inv[i][j] = (g[a][c] * g[b][d] - g[a][d] * g[b][c]) / det;
    }
  }
  std::vector<uint8_t> frame(static_cast<size_t>(kCamW) * kCamH, 128);
  for (int v = 0; v < kCamH; ++v) {
    for (int u = 0; u < kCamW; ++u) {
      const double z = inv[2][0] * u + inv[2][1] * v + inv[2][2];
      const double X = (inv[0][0] * u + inv[0][1] * v + inv[0][2]) / z;
      const double Y = (inv[1][0] * u + inv[1][1] * v + inv[1][2]) / z;
      const double x = X * w + w / 2 - 0.5;
      const double y = h / 2 - Y * w - 0.5;
      const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
      if (x0 < 0 || y0 < 0 || x0 + 1 >= w || y0 + 1 >= h) continue;
      const double fx = x - x0, fy = y - y0;
      const uint8_t* p = &target[static_cast<size_t>(y0) * w + x0];
      const double val =
          (1 - fy) * ((1 - fx) * p[0] + fx * p[1]) + fy * ((1 - fx) * p[w] + fx * p[w + 1]);
      frame[static_cast<size_t>(v) * kCamW + u] = static_cast<uint8_t>(std::lround(val));
    }
  }
  return frame;
}

}  // namespace test_scene
}  // namespace vornik
