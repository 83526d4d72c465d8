#include "builder/negative_scenes.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/synthetic_view.h"
#include "features/random.h"

namespace vornik {

namespace {

constexpr double kPi = 3.14159265358979323846;

class Canvas {
 public:
  Canvas(int width, int height, float fill)
      : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill) {}

  int width() const { return width_; }

  // Pixel bounds of the square of half side `reach` about (cx, cy), cut to
  // the canvas: u0 .. u1, v0 .. v1.
  void bounds(double cx, double cy, double reach, int* u0, int* u1, int* v0, int* v1) const {
    *u0 = std::max(0, static_cast<int>(cx - reach));
    *u1 = std::min(width_ - 1, static_cast<int>(cx + reach));
    *v0 = std::max(0, static_cast<int>(cy - reach));
    *v1 = std::min(height_ - 1, static_cast<int>(cy + reach));
  }
  int height() const { return height_; }
  float& at(int x, int y) { return pixels_[static_cast<size_t>(y) * width_ + x]; }

  // Paints `value` over a line segment of the given half thickness, with a
  // one-pixel soft edge so thin strokes keep their sub-pixel position.
  void stroke(double x0, double y0, double x1, double y1, double halfWidth, float value) {
    const double reach = halfWidth + 1.0;
    const int u0 = std::max(0, static_cast<int>(std::floor(std::min(x0, x1) - reach)));
    const int u1 = std::min(width_ - 1, static_cast<int>(std::ceil(std::max(x0, x1) + reach)));
    const int v0 = std::max(0, static_cast<int>(std::floor(std::min(y0, y1) - reach)));
    const int v1 = std::min(height_ - 1, static_cast<int>(std::ceil(std::max(y0, y1) + reach)));
    const double dx = x1 - x0, dy = y1 - y0;
    const double length2 = std::max(dx * dx + dy * dy, 1e-9);
    for (int v = v0; v <= v1; ++v) {
      // Only the columns near the part of the segment within `reach` rows.
      int ua = u0;
      int ub = u1;
      if (std::fabs(dy) > 1e-6) {
        double ta = std::clamp((v - reach - y0) / dy, 0.0, 1.0);
        double tb = std::clamp((v + reach - y0) / dy, 0.0, 1.0);
        const double xa = x0 + ta * dx, xb = x0 + tb * dx;
        ua = std::max(u0, static_cast<int>(std::floor(std::min(xa, xb) - reach)));
        ub = std::min(u1, static_cast<int>(std::ceil(std::max(xa, xb) + reach)));
      }
      for (int u = ua; u <= ub; ++u) {
        const double t = std::clamp(((u - x0) * dx + (v - y0) * dy) / length2, 0.0, 1.0);
        const double ex = u - (x0 + t * dx), ey = v - (y0 + t * dy);
        const double cover = std::clamp(halfWidth + 0.5 - std::sqrt(ex * ex + ey * ey), 0.0, 1.0);
        if (cover > 0.0) {
          float& p = at(u, v);
          p = static_cast<float>(p + cover * (value - p));
        }
      }
    }
  }

  // Adds noise and rounds to bytes.
  Image finish(Random& random, double noiseSigma) const {
    // Unit Gaussian quantiles, one table lookup per pixel: the noise only
    // has to look like sensor noise, and a million logarithms per scene
    // would cost more than drawing it.
    static const std::vector<float> gaussian = [] {
      std::vector<float> table(4096);
      for (size_t i = 0; i < table.size(); ++i) {
        // Box-Muller on a regular grid of the two uniforms.
        const double a = (i / 64 + 0.5) / 64.0;
        const double b = (i % 64 + 0.5) / 64.0;
        table[i] = static_cast<float>(std::sqrt(-2.0 * std::log(a)) * std::cos(2.0 * kPi * b));
      }
      return table;
    }();
    const float sigma = static_cast<float>(noiseSigma);
    Image out(width_, height_, 1);
    for (size_t i = 0; i < pixels_.size(); ++i) {
      const float value = pixels_[i] + sigma * gaussian[random.next() >> 20];
      out.pixels[i] = static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
    }
    return out;
  }

 private:
  int width_;
  int height_;
  std::vector<float> pixels_;
};

double uniform(Random& random, double lo, double hi) {
  return lo + (hi - lo) * (random.next() / 4294967296.0);
}

Image starField(int width, int height, Random& random) {
  Canvas canvas(width, height, static_cast<float>(uniform(random, 4.0, 30.0)));
  const int objects = width * height / 300;
  for (int n = 0; n < objects; ++n) {
    const double cx = uniform(random, 0, width), cy = uniform(random, 0, height);
    // Many faint and few bright objects, point-like stars and elongated
    // galaxies.
    const double brightness = 15.0 + 240.0 * std::pow(uniform(random, 0, 1), 3.0);
    const double sigma = 0.6 * std::pow(5.0, uniform(random, 0, 1));
    const double ratio = uniform(random, 0, 1) < 0.4 ? uniform(random, 0.3, 1.0) : 1.0;
    const double angle = uniform(random, 0, kPi);
    const double ca = std::cos(angle), sa = std::sin(angle);
    const double reach = 4.0 * sigma;
    int u0, u1, v0, v1;
    canvas.bounds(cx, cy, reach, &u0, &u1, &v0, &v1);
    for (int v = v0; v <= v1; ++v) {
      for (int u = u0; u <= u1; ++u) {
        const double dx = u - cx, dy = v - cy;
        const double a = (ca * dx + sa * dy) / sigma, b = (-sa * dx + ca * dy) / (sigma * ratio);
        float& p = canvas.at(u, v);
        p = std::min(255.0f, static_cast<float>(p + brightness * std::exp(-0.5 * (a * a + b * b))));
      }
    }
  }
  return canvas.finish(random, uniform(random, 1.5, 4.0));
}

Image pebbles(int width, int height, Random& random) {
  Canvas canvas(width, height, static_cast<float>(uniform(random, 40.0, 120.0)));
  const int stones = width * height / 120;
  const double lightAngle = uniform(random, 0, 2.0 * kPi);
  const double lx = std::cos(lightAngle), ly = std::sin(lightAngle);
  for (int n = 0; n < stones; ++n) {
    const double cx = uniform(random, 0, width), cy = uniform(random, 0, height);
    const double rx = uniform(random, 3.0, 16.0), ry = rx * uniform(random, 0.5, 1.0);
    const double angle = uniform(random, 0, kPi);
    const double ca = std::cos(angle), sa = std::sin(angle);
    const double grey = uniform(random, 50.0, 210.0);
    const double shade = uniform(random, 20.0, 60.0);
    const double reach = std::max(rx, ry) + 1.0;
    int u0, u1, v0, v1;
    canvas.bounds(cx, cy, reach, &u0, &u1, &v0, &v1);
    for (int v = v0; v <= v1; ++v) {
      for (int u = u0; u <= u1; ++u) {
        const double dx = u - cx, dy = v - cy;
        const double a = (ca * dx + sa * dy) / rx, b = (-sa * dx + ca * dy) / ry;
        const double r2 = a * a + b * b;
        if (r2 > 1.0) continue;
        // Lit side brighter, a dark rim where the stone meets its neighbours.
        const double lit = (dx * lx + dy * ly) / reach;
        const double rim = r2 > 0.8 ? 0.6 : 1.0;
        canvas.at(u, v) = static_cast<float>((grey + shade * lit) * rim);
      }
    }
  }
  return canvas.finish(random, uniform(random, 2.0, 5.0));
}

Image bricks(int width, int height, Random& random) {
  const double courseHeight = uniform(random, 12.0, 32.0);
  const double brickLength = courseHeight * uniform(random, 2.0, 3.2);
  const double mortar = uniform(random, 1.5, 5.0);
  const double mortarGrey = uniform(random, 60.0, 220.0);
  const double brickGrey = uniform(random, 50.0, 200.0);
  const double angle = uniform(random, -0.35, 0.35);
  const double ca = std::cos(angle), sa = std::sin(angle);
  // Per-brick shade from a hash of its course and index.
  std::vector<float> shades(4096);
  for (float& s : shades) s = static_cast<float>(uniform(random, -35.0, 35.0));
  Canvas canvas(width, height, 0.0f);
  for (int v = 0; v < height; ++v) {
    for (int u = 0; u < width; ++u) {
      const double x = ca * u + sa * v + 4096.0, y = -sa * u + ca * v + 4096.0;
      const int course = static_cast<int>(std::floor(y / courseHeight));
      const double inCourseY = y - course * courseHeight;
      const double shifted = x + (course & 1) * 0.5 * brickLength;
      const int brick = static_cast<int>(std::floor(shifted / brickLength));
      const double inBrickX = shifted - brick * brickLength;
      const bool joint = inCourseY < mortar || inBrickX < mortar;
      const size_t index = static_cast<size_t>(course * 131 + brick * 31) & 4095u;
      canvas.at(u, v) = static_cast<float>(joint ? mortarGrey : brickGrey + shades[index]);
    }
  }
  return canvas.finish(random, uniform(random, 3.0, 8.0));
}

Image strokes(int width, int height, Random& random, bool grass) {
  if (grass) {
    Canvas canvas(width, height, static_cast<float>(uniform(random, 30.0, 90.0)));
    const int blades = width * height / 60;
    for (int n = 0; n < blades; ++n) {
      const double x = uniform(random, -10, width + 10), y = uniform(random, -10, height + 10);
      const double length = uniform(random, 12.0, 60.0);
      const double angle = kPi / 2 + uniform(random, -0.5, 0.5);
      canvas.stroke(x, y, x + length * std::cos(angle), y - length * std::sin(angle),
                    uniform(random, 0.4, 1.6), static_cast<float>(uniform(random, 60.0, 220.0)));
    }
    return canvas.finish(random, uniform(random, 2.0, 5.0));
  }
  // Printed text: lines of glyphs made of two to four strokes.
  Canvas canvas(width, height, static_cast<float>(uniform(random, 180.0, 245.0)));
  const double glyph = uniform(random, 6.0, 18.0);
  const double lineStep = glyph * uniform(random, 1.4, 2.0);
  const float ink = static_cast<float>(uniform(random, 10.0, 70.0));
  const double halfWidth = std::max(0.4, glyph * uniform(random, 0.05, 0.1));
  for (double baseline = glyph; baseline < height; baseline += lineStep) {
    double x = uniform(random, 0.0, 2.0 * glyph);
    while (x < width) {
      const int letters = 2 + static_cast<int>(random.uniform(7));
      for (int l = 0; l < letters && x < width; ++l) {
        const int parts = 2 + static_cast<int>(random.uniform(3));
        for (int s = 0; s < parts; ++s) {
          canvas.stroke(x + uniform(random, 0, 0.7 * glyph), baseline - uniform(random, 0, glyph),
                        x + uniform(random, 0, 0.7 * glyph), baseline - uniform(random, 0, glyph),
                        halfWidth, ink);
        }
        x += glyph * uniform(random, 0.6, 0.9);
      }
      x += glyph * uniform(random, 0.6, 1.2);
    }
  }
  return canvas.finish(random, uniform(random, 1.0, 4.0));
}

// Smooth value noise: a random lattice of `cell` pixels, interpolated with a
// smooth step.
void addValueNoise(Canvas& canvas, Random& random, double cell, double amplitude) {
  const int cols = static_cast<int>(canvas.width() / cell) + 2;
  const int rows = static_cast<int>(canvas.height() / cell) + 2;
  std::vector<float> lattice(static_cast<size_t>(cols) * rows);
  for (float& value : lattice) value = static_cast<float>(uniform(random, -amplitude, amplitude));
  auto smooth = [](double t) { return t * t * (3.0 - 2.0 * t); };
  // Lattice column and blend weight of every pixel column, once per call.
  std::vector<int> column(canvas.width());
  std::vector<float> blend(canvas.width());
  for (int u = 0; u < canvas.width(); ++u) {
    const double gx = u / cell;
    column[u] = static_cast<int>(gx);
    blend[u] = static_cast<float>(smooth(gx - column[u]));
  }
  for (int v = 0; v < canvas.height(); ++v) {
    const double gy = v / cell;
    const int j = static_cast<int>(gy);
    const float ty = static_cast<float>(smooth(gy - j));
    const float* r0 = &lattice[static_cast<size_t>(j) * cols];
    const float* r1 = r0 + cols;
    for (int u = 0; u < canvas.width(); ++u) {
      const int i = column[u];
      const float tx = blend[u];
      const float top = r0[i] + tx * (r0[i + 1] - r0[i]);
      const float bottom = r1[i] + tx * (r1[i + 1] - r1[i]);
      canvas.at(u, v) += top + ty * (bottom - top);
    }
  }
}

Image fractal(int width, int height, Random& random) {
  Canvas shading(width, height, 128.0f);
  Canvas regions(width, height, 0.0f);
  for (double cell = 128.0; cell >= 2.0; cell /= 2.0) {
    addValueNoise(shading, random, cell, 3.0 * std::pow(cell, 0.7));
    if (cell <= 64.0) addValueNoise(regions, random, cell, cell);
  }
  // Hard edges where a second noise field crosses band limits: object
  // outlines over smooth shading.
  const double step = uniform(random, 30.0, 70.0);
  const double band = uniform(random, 12.0, 30.0);
  for (int v = 0; v < height; ++v) {
    for (int u = 0; u < width; ++u) {
      const int level = static_cast<int>(std::floor(regions.at(u, v) / band + 100.0)) % 3 - 1;
      shading.at(u, v) += static_cast<float>(step * level);
    }
  }
  return shading.finish(random, uniform(random, 1.0, 4.0));
}

}  // namespace

Image makeNegativeScene(NegativeSceneKind kind, int width, int height, uint32_t seed) {
  if (width <= 0 || height <= 0) return Image();
  Random random(seed * 0x9E3779B1u + 0x7F4A7C15u + static_cast<uint32_t>(kind) * 0x632BE5ABu);
  switch (kind) {
    case NegativeSceneKind::kClutter:
      return toGray(makeClutter(width, height, seed));
    case NegativeSceneKind::kStarField:
      return starField(width, height, random);
    case NegativeSceneKind::kPebbles:
      return pebbles(width, height, random);
    case NegativeSceneKind::kBricks:
      return bricks(width, height, random);
    case NegativeSceneKind::kStrokes:
      return strokes(width, height, random, (seed & 1u) != 0);
    case NegativeSceneKind::kFractal:
      return fractal(width, height, random);
  }
  return Image();
}

}  // namespace vornik
