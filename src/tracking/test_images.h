#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "database/image_loader_jpg.h"
#include "features/gray_image.h"
#include "features/random.h"
#include "tracking/patch_search.h"
#include "tracking/pose_types.h"
#include "tracking/se3.h"

namespace vornik {
namespace testing_images {

// Camera-from-target pose: the target faces the camera (its Y axis up, the
// camera's y axis down), turned by `rotation`, at translation t.
inline Mat44f viewPose(const Vector3F& rotation, const Vector3F& t) {
  Matrix33F facing = Matrix33F::identity();
  facing(1, 1) = -1.0f;
  facing(2, 2) = -1.0f;
  return Mat44f::rigid(so3Exp(rotation) * facing, t);
}

// Largest distance, in pixels of a 640 x 480 camera, between the corners of a
// square target as projected under two poses.
inline float cornerDistance(const Mat44f& a, const Mat44f& b) {
  float worst = 0;
  for (int k = 0; k < 4; ++k) {
    const float X = k & 1 ? 0.5f : -0.5f, Y = k & 2 ? 0.5f : -0.5f;
    float ca[3], na[2], pa[2], cb[3], nb[2], pb[2];
    projectPlanePoint(a, X, Y, 640, 480, 0, ca, na, pa);
    projectPlanePoint(b, X, Y, 640, 480, 0, cb, nb, pb);
    worst = std::max(worst, std::hypot(pa[0] - pb[0], pa[1] - pb[1]));
  }
  return worst;
}

// Bilinear value at (x, y), 0 <= x <= width - 1, 0 <= y <= height - 1.
inline double bilinear(const GrayImage& image, double x, double y) {
  const int32_t ix = std::min(static_cast<int32_t>(x), image.width - 2);
  const int32_t iy = std::min(static_cast<int32_t>(y), image.height - 2);
  const double fx = x - ix, fy = y - iy;
  return image.at(ix, iy) * (1 - fx) * (1 - fy) + image.at(ix + 1, iy) * fx * (1 - fy) +
         image.at(ix, iy + 1) * (1 - fx) * fy + image.at(ix + 1, iy + 1) * fx * fy;
}

// Smooth, structured grey texture (random lattice values upsampled
// bilinearly, plus two sinusoids), so that both the correlation search and
// the gradient-based refinement have something to lock on to; moved by
// (dx, dy) pixels and `offset` added to every grey value.
inline std::unique_ptr<GrayImage> makeTexture(int32_t width, int32_t height, uint32_t seed,
                                              int32_t cell = 6, double dx = 0, double dy = 0,
                                              int32_t offset = 0) {
  Random random(seed);
  GrayImage grid(width / cell + 2, height / cell + 2);
  for (int32_t i = 0; i < grid.width * grid.height; ++i)
    grid.pixels[i] = static_cast<uint8_t>(random.uniform(256));
  auto image = std::make_unique<GrayImage>(width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const double sx = x - dx, sy = y - dy;
      const double v = 0.7 * bilinear(grid, std::max(0.0, sx / cell), std::max(0.0, sy / cell)) +
                       30.0 * std::sin(0.31 * sx + 0.17 * sy) +
                       20.0 * std::cos(0.11 * sx - 0.23 * sy) + 10.0 + offset;
      image->pixels[static_cast<size_t>(y) * width + x] =
          static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v))));
    }
  }
  return image;
}

// Grey image of a JPEG file (null when it cannot be decoded).
inline std::unique_ptr<GrayImage> loadGrayJpeg(const std::string& path) {
  int32_t width = 0, height = 0, grey = 0;
  uint8_t* pixels = nullptr;
  if (!ImageLoaderJPG().load(path, width, height, grey, pixels)) return nullptr;
  auto image = std::make_unique<GrayImage>(width, height, pixels, grey == 0);
  delete[] pixels;
  return image;
}

// Camera view (width x height, focal length = width, principal point at the
// integer half sizes) of the target image lying on the plane of `pose`, with
// 2 x 2 supersampling; pixels off the target get `background`.
inline std::unique_ptr<GrayImage> renderPlane(const GrayImage& target, const Mat44f& pose,
                                              int32_t width, int32_t height,
                                              uint8_t background = 96) {
  // Homography from plane (X, Y, 1) to pixels, inverted in double.
  const double f = width, cx = width >> 1, cy = height >> 1;
  double g[9];
  const int cols[3] = {0, 1, 3};
  for (int c = 0; c < 3; ++c) {
    const double x = pose(0, cols[c]), y = pose(1, cols[c]), z = pose(2, cols[c]);
    g[0 + c] = f * x + cx * z;
    g[3 + c] = f * y + cy * z;
    g[6 + c] = z;
  }
  double inv[9] = {g[4] * g[8] - g[5] * g[7], g[2] * g[7] - g[1] * g[8], g[1] * g[5] - g[2] * g[4],
                   g[5] * g[6] - g[3] * g[8], g[0] * g[8] - g[2] * g[6], g[2] * g[3] - g[0] * g[5],
                   g[3] * g[7] - g[4] * g[6], g[1] * g[6] - g[0] * g[7], g[0] * g[4] - g[1] * g[3]};
  const double tw = target.width;
  auto image = std::make_unique<GrayImage>(width, height);
  for (int32_t v = 0; v < height; ++v) {
    for (int32_t u = 0; u < width; ++u) {
      double acc = 0;
      for (int s = 0; s < 4; ++s) {
        const double pu = u - 0.25 + 0.5 * (s & 1), pv = v - 0.25 + 0.5 * (s >> 1);
        const double w = inv[6] * pu + inv[7] * pv + inv[8];
        const double X = (inv[0] * pu + inv[1] * pv + inv[2]) / w;
        const double Y = (inv[3] * pu + inv[4] * pv + inv[5]) / w;
        const double x = X * tw + (target.width >> 1);
        const double y = (target.height >> 1) - Y * tw;
        const bool inside = x >= 0 && y >= 0 && x < target.width - 1 && y < target.height - 1;
        acc += inside ? bilinear(target, x, y) : background;
      }
      image->pixels[static_cast<size_t>(v) * width + u] = static_cast<uint8_t>(acc / 4 + 0.5);
    }
  }
  return image;
}

// Flat grey target of the size of `texture` holding 16 small patches of it
// (11 x 11 pixels, on a 4 x 4 grid 100 pixels apart around the centre). With
// `shift` > 0 every patch is moved by that many pixels in its own direction
// drawn from `seed`: each is still found, but no single pose explains them.
inline std::unique_ptr<GrayImage> patchGrid(const GrayImage& texture, float shift = 0.0f,
                                            uint32_t seed = 1) {
  auto image = std::make_unique<GrayImage>(texture.width, texture.height);
  std::fill_n(image->pixels.get(), texture.width * texture.height, 170);
  Random random(seed);
  for (int32_t k = 0; k < 16; ++k) {
    const float angle = static_cast<float>(random.uniform(3600)) * 3.14159265f / 1800.0f;
    const int32_t dx = static_cast<int32_t>(std::lround(shift * std::cos(angle)));
    const int32_t dy = static_cast<int32_t>(std::lround(shift * std::sin(angle)));
    const int32_t cx = (texture.width >> 1) - 150 + 100 * (k % 4);
    const int32_t cy = (texture.height >> 1) - 150 + 100 * (k / 4);
    for (int32_t y = cy - 5; y <= cy + 5; ++y)
      for (int32_t x = cx - 5; x <= cx + 5; ++x)
        image->pixels[static_cast<size_t>(y + dy) * texture.width + x + dx] = texture.at(x, y);
  }
  return image;
}

}  // namespace testing_images
}  // namespace vornik
