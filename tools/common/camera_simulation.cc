#include "common/camera_simulation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace vornik {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Linear-light colour image, 3 floats per pixel (blue, green, red).
struct Linear {
  int width = 0;
  int height = 0;
  std::vector<float> values;
  float* at(int x, int y) { return &values[(static_cast<size_t>(y) * width + x) * 3]; }
  const float* at(int x, int y) const { return &values[(static_cast<size_t>(y) * width + x) * 3]; }
};

const std::array<float, 256>& toLinearTable() {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = static_cast<float>(std::pow(i / 255.0, 2.2));
    return t;
  }();
  return table;
}

Linear toLinear(const Image& image) {
  const auto& table = toLinearTable();
  Linear out;
  out.width = image.width;
  out.height = image.height;
  out.values.resize(static_cast<size_t>(image.width) * image.height * 3);
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* row = image.row(y);
    for (int x = 0; x < image.width; ++x) {
      float* o = out.at(x, y);
      for (int c = 0; c < 3; ++c)
        o[c] = table[row[x * image.channels + (image.channels == 3 ? c : 0)]];
    }
  }
  return out;
}

// Box-halved copy: each level integrates 2 x 2 pixels of the one below.
Linear halve(const Linear& in) {
  Linear out;
  out.width = std::max(1, in.width / 2);
  out.height = std::max(1, in.height / 2);
  out.values.resize(static_cast<size_t>(out.width) * out.height * 3);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const int x0 = std::min(2 * x, in.width - 1), x1 = std::min(2 * x + 1, in.width - 1);
      const int y0 = std::min(2 * y, in.height - 1), y1 = std::min(2 * y + 1, in.height - 1);
      for (int c = 0; c < 3; ++c) {
        out.at(x, y)[c] =
            0.25f * (in.at(x0, y0)[c] + in.at(x1, y0)[c] + in.at(x0, y1)[c] + in.at(x1, y1)[c]);
      }
    }
  }
  return out;
}

// Bilinear sample at pixel-centre coordinates (u, v), edges clamped.
void sample(const Linear& image, double u, double v, float* out) {
  u = std::clamp(u, 0.0, image.width - 1.0);
  v = std::clamp(v, 0.0, image.height - 1.0);
  const int x0 = std::min(static_cast<int>(u), image.width - 1);
  const int y0 = std::min(static_cast<int>(v), image.height - 1);
  const int x1 = std::min(x0 + 1, image.width - 1);
  const int y1 = std::min(y0 + 1, image.height - 1);
  const float fx = static_cast<float>(u - x0), fy = static_cast<float>(v - y0);
  for (int c = 0; c < 3; ++c) {
    const float top = image.at(x0, y0)[c] * (1 - fx) + image.at(x1, y0)[c] * fx;
    const float bottom = image.at(x0, y1)[c] * (1 - fx) + image.at(x1, y1)[c] * fx;
    out[c] = top * (1 - fy) + bottom * fy;
  }
}

// One-dimensional convolution of every channel along x (horizontal) or y.
void convolve(Linear* image, const std::vector<float>& kernel, int radius, bool horizontal) {
  Linear out = *image;
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      float sum[3] = {0, 0, 0};
      for (int k = -radius; k <= radius; ++k) {
        const int xx = horizontal ? std::clamp(x + k, 0, image->width - 1) : x;
        const int yy = horizontal ? y : std::clamp(y + k, 0, image->height - 1);
        const float w = kernel[k + radius];
        const float* p = image->at(xx, yy);
        for (int c = 0; c < 3; ++c) sum[c] += w * p[c];
      }
      std::copy(sum, sum + 3, out.at(x, y));
    }
  }
  *image = std::move(out);
}

void gaussianBlur(Linear* image, double sigma) {
  if (sigma < 0.2) return;
  const int radius = static_cast<int>(std::ceil(3.0 * sigma));
  std::vector<float> kernel(2 * radius + 1);
  double total = 0;
  for (int k = -radius; k <= radius; ++k)
    total += kernel[k + radius] = std::exp(-0.5 * k * k / (sigma * sigma));
  for (float& w : kernel) w = static_cast<float>(w / total);
  convolve(image, kernel, radius, true);
  convolve(image, kernel, radius, false);
}

// Linear motion blur: the average of the image along a segment of `length`
// pixels, sampled every quarter pixel.
void motionBlur(Linear* image, double length, double angleDeg) {
  if (length < 0.25) return;
  const double dx = std::cos(angleDeg * kPi / 180.0), dy = std::sin(angleDeg * kPi / 180.0);
  const int steps = std::max(2, static_cast<int>(std::ceil(length * 4.0)) + 1);
  Linear out = *image;
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      float sum[3] = {0, 0, 0};
      for (int s = 0; s < steps; ++s) {
        const double t = (static_cast<double>(s) / (steps - 1) - 0.5) * length;
        float p[3];
        sample(*image, x + t * dx, y + t * dy, p);
        for (int c = 0; c < 3; ++c) sum[c] += p[c];
      }
      for (int c = 0; c < 3; ++c) out.at(x, y)[c] = sum[c] / steps;
    }
  }
  *image = std::move(out);
}

bool finiteEffects(const CameraEffects& e) {
  for (double v : {e.backgroundZoom, e.backgroundShiftX, e.backgroundShiftY, e.radialK1,
                   e.defocusSigma, e.motionLength, e.motionAngleDeg, e.lightGradient,
                   e.lightAngleDeg, e.vignetting, e.exposure, e.readNoise, e.shotNoise}) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

}  // namespace

bool renderCameraView(const Image* target, const PoseMatrix& cameraFromTarget,
                      const CameraEffects& e, RenderedView* view, std::string* error) {
  const int width = e.camera.width, height = e.camera.height;
  if (view == nullptr) {
    *error = "no output view";
    return false;
  }
  if (width < 16 || height < 16 || width > 8192 || height > 8192) {
    *error = "frame size must be 16 to 8192 pixels a side";
    return false;
  }
  if (target != nullptr && (target->empty() || (target->channels != 1 && target->channels != 3))) {
    *error = "target must be a non-empty grey or colour image";
    return false;
  }
  if (e.background != nullptr &&
      (e.background->empty() || (e.background->channels != 1 && e.background->channels != 3))) {
    *error = "background must be a non-empty grey or colour image";
    return false;
  }
  if (!finiteEffects(e) || e.supersampling < 1 || e.supersampling > 16 || e.defocusSigma < 0 ||
      e.motionLength < 0 || e.readNoise < 0 || e.shotNoise < 0 || e.backgroundZoom < 1.0 ||
      e.exposure <= 0 || e.lightGradient < 0 || e.lightGradient > 1 || e.vignetting < 0 ||
      e.vignetting > 1 || e.jpegQuality < 0 || e.jpegQuality > 100 || std::fabs(e.radialK1) > 0.5) {
    *error = "camera effect values out of range";
    return false;
  }

  // Mip chain of the target in linear light, for minified views.
  std::vector<Linear> mips;
  double tw = 0, th = 0;
  if (target != nullptr) {
    mips.push_back(toLinear(*target));
    while (mips.back().width > 8 && mips.back().height > 8 && mips.size() < 12) {
      mips.push_back(halve(mips.back()));
    }
    tw = target->width;
    th = target->height;
  }
  Linear background;
  double bgScale = 1, bgX0 = 0, bgY0 = 0;
  if (e.background != nullptr) {
    background = toLinear(*e.background);
    // Cover the frame, zoom in, then shift within the free range.
    const double cover = std::max(static_cast<double>(width) / background.width,
                                  static_cast<double>(height) / background.height);
    bgScale = cover * e.backgroundZoom;  // frame pixels per photo pixel
    const double freeX = background.width - width / bgScale;
    const double freeY = background.height - height / bgScale;
    bgX0 = 0.5 * freeX * (1.0 + std::clamp(e.backgroundShiftX, -1.0, 1.0));
    bgY0 = 0.5 * freeY * (1.0 + std::clamp(e.backgroundShiftY, -1.0, 1.0));
  }

  // Plane coordinates per ray: the camera-from-target pose maps plane
  // (X, Y, 1) to a ray, so its 3 x 3 part is a homography we invert.
  const PoseMatrix& p = cameraFromTarget;
  const double h[9] = {p[0], p[1], p[3], p[4], p[5], p[7], p[8], p[9], p[11]};
  const double det = h[0] * (h[4] * h[8] - h[5] * h[7]) - h[1] * (h[3] * h[8] - h[5] * h[6]) +
                     h[2] * (h[3] * h[7] - h[4] * h[6]);
  const bool planeVisible = target != nullptr && std::fabs(det) > 1e-12;
  double inv[9] = {0};
  if (planeVisible) {
    inv[0] = (h[4] * h[8] - h[5] * h[7]) / det;
    inv[1] = (h[2] * h[7] - h[1] * h[8]) / det;
    inv[2] = (h[1] * h[5] - h[2] * h[4]) / det;
    inv[3] = (h[5] * h[6] - h[3] * h[8]) / det;
    inv[4] = (h[0] * h[8] - h[2] * h[6]) / det;
    inv[5] = (h[2] * h[3] - h[0] * h[5]) / det;
    inv[6] = (h[3] * h[7] - h[4] * h[6]) / det;
    inv[7] = (h[1] * h[6] - h[0] * h[7]) / det;
    inv[8] = (h[0] * h[4] - h[1] * h[3]) / det;
  }
  const double f = e.camera.focal(), cx = e.camera.cx(), cy = e.camera.cy();
  // Target pixels per plane unit (the plane's unit is the target width).
  const double ppu = tw;
  // The plane's origin sits at target pixel (W / 2, H / 2), integer halves.
  const double halfW = target != nullptr ? target->width / 2 : 0;
  const double halfH = target != nullptr ? target->height / 2 : 0;

  Linear scene;
  scene.width = width;
  scene.height = height;
  scene.values.assign(static_cast<size_t>(width) * height * 3, 0.0f);
  const int n = e.supersampling;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float sum[3] = {0, 0, 0};
      // The target footprint of this pixel, for the mip choice.
      int mip = 0;
      for (int sy = 0; sy < n; ++sy) {
        for (int sx = 0; sx < n; ++sx) {
          // Distorted image position of the sample; undistort to the
          // pinhole ray by Newton steps on r_d = r (1 + k1 r^2).
          const double xd = (x - 0.5 + (sx + 0.5) / n - cx) / f;
          const double yd = (y - 0.5 + (sy + 0.5) / n - cy) / f;
          double xu = xd, yu = yd;
          if (e.radialK1 != 0.0) {
            const double rd = std::hypot(xd, yd);
            double r = rd;
            for (int it = 0; it < 6; ++it) {
              const double g = r * (1 + e.radialK1 * r * r) - rd;
              const double dg = 1 + 3 * e.radialK1 * r * r;
              r -= g / dg;
            }
            const double s = rd > 1e-12 ? r / rd : 1.0;
            xu = xd * s;
            yu = yd * s;
          }
          // A mid-grey wall (level 128) without a background photo.
          const float grey = toLinearTable()[128];
          float value[3] = {grey, grey, grey};
          bool onTarget = false;
          if (planeVisible) {
            const double X = inv[0] * xu + inv[1] * yu + inv[2];
            const double Y = inv[3] * xu + inv[4] * yu + inv[5];
            const double W = inv[6] * xu + inv[7] * yu + inv[8];
            if (std::fabs(W) > 1e-12) {
              const double px = X / W, py = Y / W;
              // Depth of the plane point must be positive (in front).
              const double z = p[8] * px + p[9] * py + p[11];
              const double u = px * ppu + halfW;
              const double v = halfH - py * ppu;
              if (z > 0 && u >= -0.5 && v >= -0.5 && u <= tw - 0.5 && v <= th - 0.5) {
                if (sx == 0 && sy == 0) {
                  // Target pixels per sample: from the depth and the local
                  // foreshortening (a conservative isotropic estimate).
                  const double pixelsPerSample = ppu * z / (f * n);
                  mip = 0;
                  while (mip + 1 < static_cast<int>(mips.size()) &&
                         pixelsPerSample > 2.0 * (1 << mip)) {
                    ++mip;
                  }
                }
                const double scale = 1.0 / (1 << mip);
                sample(mips[mip], (u + 0.5) * scale - 0.5, (v + 0.5) * scale - 0.5, value);
                onTarget = true;
              }
            }
          }
          if (!onTarget && e.background != nullptr) {
            const double u = bgX0 + (xu * f + cx + 0.5) / bgScale - 0.5;
            const double v = bgY0 + (yu * f + cy + 0.5) / bgScale - 0.5;
            sample(background, u, v, value);
          }
          for (int c = 0; c < 3; ++c) sum[c] += value[c];
        }
      }
      float* o = scene.at(x, y);
      for (int c = 0; c < 3; ++c) o[c] = sum[c] / (n * n);
    }
  }

  // Light: a linear gradient across the frame, cos^4 vignetting, exposure.
  const double la = e.lightAngleDeg * kPi / 180.0;
  const double ldx = std::cos(la), ldy = std::sin(la);
  const double extent = std::fabs(ldx) * width + std::fabs(ldy) * height;
  const double halfDiagonal = std::hypot(width / 2.0, height / 2.0) / f;
  const double cornerCos4 = std::pow(1.0 / (1.0 + halfDiagonal * halfDiagonal), 2.0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double along = ((x - width / 2.0) * ldx + (y - height / 2.0) * ldy) / extent + 0.5;
      const double rx = (x - cx) / f, ry = (y - cy) / f;
      const double cos4 = std::pow(1.0 / (1.0 + rx * rx + ry * ry), 2.0);
      // cos^4 shape scaled so the corners lose `vignetting` of their light.
      const double vignette = 1.0 - e.vignetting * (1.0 - cos4) / std::max(1e-9, 1.0 - cornerCos4);
      const double gain = e.exposure * (1.0 - e.lightGradient * std::clamp(along, 0.0, 1.0)) *
                          std::max(0.0, vignette);
      float* o = scene.at(x, y);
      for (int c = 0; c < 3; ++c) o[c] = static_cast<float>(o[c] * gain);
    }
  }
  gaussianBlur(&scene, e.defocusSigma);
  motionBlur(&scene, e.motionLength, e.motionAngleDeg);

  // Sensor: one colour per pixel (RGGB), gamma-encoded levels with noise.
  std::mt19937 rng(e.seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<float> mosaic(static_cast<size_t>(width) * height * (e.bayer ? 1 : 3));
  auto encode = [](float linear) {
    return 255.0 * std::pow(std::clamp(static_cast<double>(linear), 0.0, 1.0), 1.0 / 2.2);
  };
  auto noisy = [&](double level) {
    const double sigma = std::sqrt(e.readNoise * e.readNoise + e.shotNoise * level);
    return static_cast<float>(std::clamp(level + sigma * normal(rng), 0.0, 255.0));
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const float* s = scene.at(x, y);
      if (e.bayer) {
        // BGR channel index of the filter: R at (even, even), B at (odd, odd).
        const int channel = (y % 2 == 0) ? (x % 2 == 0 ? 2 : 1) : (x % 2 == 0 ? 1 : 0);
        mosaic[static_cast<size_t>(y) * width + x] = noisy(encode(s[channel]));
      } else {
        for (int c = 0; c < 3; ++c) {
          mosaic[(static_cast<size_t>(y) * width + x) * 3 + c] = noisy(encode(s[c]));
        }
      }
    }
  }
  Image frame(width, height, 3);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = frame.row(y);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        double value;
        if (!e.bayer) {
          value = mosaic[(static_cast<size_t>(y) * width + x) * 3 + c];
        } else {
          // Bilinear demosaic: a pixel's own colour as sampled, the others
          // as the mean of their sites in the 3 x 3 neighbourhood.
          const int own = (y % 2 == 0) ? (x % 2 == 0 ? 2 : 1) : (x % 2 == 0 ? 1 : 0);
          double sum = 0;
          int count = 0;
          for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
              const int xx = x + dx, yy = y + dy;
              if (xx < 0 || yy < 0 || xx >= width || yy >= height) continue;
              if (own == c && (dx != 0 || dy != 0)) continue;
              const int site = (yy % 2 == 0) ? (xx % 2 == 0 ? 2 : 1) : (xx % 2 == 0 ? 1 : 0);
              if (site != c) continue;
              sum += mosaic[static_cast<size_t>(yy) * width + xx];
              ++count;
            }
          }
          value = count > 0 ? sum / count : 0.0;
        }
        row[x * 3 + c] = static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
      }
    }
  }
  if (e.jpegQuality > 0) {
    std::vector<uint8_t> bytes;
    Image decoded;
    if (!encodeJpeg(frame, e.jpegQuality, &bytes, error) ||
        !decodeJpeg(bytes.data(), bytes.size(), &decoded, error)) {
      return false;
    }
    frame = std::move(decoded);
  }
  view->frame = std::move(frame);
  view->truth = target != nullptr
                    ? computeFrameTruth(cameraFromTarget, target->width, target->height, e.camera)
                    : FrameTruth();
  return true;
}

CameraEffects randomCameraEffects(uint32_t seed, const CameraModel& camera) {
  std::mt19937 rng(seed * 2654435761u + 97u);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto range = [&](double lo, double hi) { return lo + (hi - lo) * unit(rng); };
  CameraEffects e;
  e.camera = camera;
  e.defocusSigma = range(0.0, 1.2);
  e.motionLength = range(0.0, 2.5);
  e.motionAngleDeg = range(0.0, 180.0);
  e.lightGradient = range(0.0, 0.35);
  e.lightAngleDeg = range(0.0, 360.0);
  e.vignetting = range(0.10, 0.35);
  e.exposure = range(0.75, 1.15);
  e.readNoise = range(1.0, 3.0);
  e.shotNoise = range(0.2, 0.8);
  e.radialK1 = range(-0.04, 0.04);
  e.jpegQuality = static_cast<int>(std::lround(range(70.0, 90.0)));
  e.backgroundZoom = range(1.0, 2.0);
  e.backgroundShiftX = range(-1.0, 1.0);
  e.backgroundShiftY = range(-1.0, 1.0);
  e.bayer = true;
  e.seed = static_cast<uint32_t>(rng());
  return e;
}

}  // namespace vornik
