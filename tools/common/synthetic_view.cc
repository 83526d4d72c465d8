#include "common/synthetic_view.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "features/random.h"

namespace vornik {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxFrameSide = 16384;
constexpr double kMaxBlurRadius = 100.0;
constexpr float kFlatBackground = 128.0f;
// Sub-sample offsets of the 2 x 2 supersampling grid inside a frame pixel.
constexpr double kSubOffsets[4][2] = {{-0.25, -0.25}, {0.25, -0.25}, {-0.25, 0.25}, {0.25, 0.25}};

void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

bool validImage(const Image& image) {
  return image.width > 0 && image.height > 0 && (image.channels == 1 || image.channels == 3) &&
         image.pixels.size() == static_cast<size_t>(image.width) * image.height * image.channels;
}

// Half-size image, each pixel the mean of a 2 x 2 block (the last row or
// column repeats for odd sizes).
Image halve(const Image& image) {
  const int w = std::max(1, image.width / 2), h = std::max(1, image.height / 2);
  const int c = image.channels;
  Image result(w, h, c);
  for (int y = 0; y < h; ++y) {
    const uint8_t* r0 = image.row(std::min(2 * y, image.height - 1));
    const uint8_t* r1 = image.row(std::min(2 * y + 1, image.height - 1));
    uint8_t* out = result.row(y);
    for (int x = 0; x < w; ++x) {
      const int x0 = std::min(2 * x, image.width - 1) * c;
      const int x1 = std::min(2 * x + 1, image.width - 1) * c;
      for (int k = 0; k < c; ++k) {
        out[x * c + k] =
            static_cast<uint8_t>((r0[x0 + k] + r0[x1 + k] + r1[x0 + k] + r1[x1 + k] + 2) >> 2);
      }
    }
  }
  return result;
}

// Bilinear sample of a 3-channel image at (x, y), pixel centres on integers,
// clamped to the image.
inline void sampleBilinear(const Image& image, double x, double y, float* out) {
  const double maxX = image.width - 1, maxY = image.height - 1;
  x = std::min(std::max(x, 0.0), maxX);
  y = std::min(std::max(y, 0.0), maxY);
  const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
  const int x1 = std::min(x0 + 1, image.width - 1), y1 = std::min(y0 + 1, image.height - 1);
  const float fx = static_cast<float>(x - x0), fy = static_cast<float>(y - y0);
  const uint8_t* r0 = image.row(y0);
  const uint8_t* r1 = image.row(y1);
  for (int k = 0; k < 3; ++k) {
    const float top = r0[3 * x0 + k] + fx * (r0[3 * x1 + k] - r0[3 * x0 + k]);
    const float bottom = r1[3 * x0 + k] + fx * (r1[3 * x1 + k] - r1[3 * x0 + k]);
    out[k] = top + fy * (bottom - top);
  }
}

// Sample at level-0 coordinates (x, y) from the mip chain, blending the two
// levels around `level`.
void sampleMip(const std::vector<Image>& mips, double x, double y, double level, float* out) {
  const int top = static_cast<int>(mips.size()) - 1;
  level = std::min(std::max(level, 0.0), static_cast<double>(top));
  const int l0 = static_cast<int>(level);
  const double frac = level - l0;
  const double scale0 = std::ldexp(1.0, -l0);
  sampleBilinear(mips[l0], (x + 0.5) * scale0 - 0.5, (y + 0.5) * scale0 - 0.5, out);
  if (frac > 0.0 && l0 < top) {
    float upper[3];
    const double scale1 = scale0 * 0.5;
    sampleBilinear(mips[l0 + 1], (x + 0.5) * scale1 - 0.5, (y + 0.5) * scale1 - 0.5, upper);
    const float f = static_cast<float>(frac);
    for (int k = 0; k < 3; ++k) out[k] += f * (upper[k] - out[k]);
  }
}

// 3x3 inverse; false when singular.
bool invert3(const double* m, double* inv) {
  const double c00 = m[4] * m[8] - m[5] * m[7];
  const double c01 = m[5] * m[6] - m[3] * m[8];
  const double c02 = m[3] * m[7] - m[4] * m[6];
  const double det = m[0] * c00 + m[1] * c01 + m[2] * c02;
  if (!std::isfinite(det) || std::fabs(det) < 1e-300) return false;
  const double s = 1.0 / det;
  inv[0] = c00 * s;
  inv[1] = (m[2] * m[7] - m[1] * m[8]) * s;
  inv[2] = (m[1] * m[5] - m[2] * m[4]) * s;
  inv[3] = c01 * s;
  inv[4] = (m[0] * m[8] - m[2] * m[6]) * s;
  inv[5] = (m[2] * m[3] - m[0] * m[5]) * s;
  inv[6] = c02 * s;
  inv[7] = (m[1] * m[6] - m[0] * m[7]) * s;
  inv[8] = (m[0] * m[4] - m[1] * m[3]) * s;
  return true;
}

// Frame pixel -> target pixel homography. Target pixel (x, y) maps to the
// plane point A (x, y, 1), the plane to the frame through K [r0 r1 t], so
// the forward map is K [r0 r1 t] A and the third output component is the
// camera depth.
bool frameToTarget(const PoseMatrix& p, int targetWidth, int targetHeight,
                   const CameraModel& camera, double* inverse) {
  const double w = targetWidth;
  const double a[9] = {1.0 / w, 0.0,      -(targetWidth / 2) / w,  //
                       0.0,     -1.0 / w, (targetHeight / 2) / w,  //
                       0.0,     0.0,      1.0};
  const double f = camera.focal(), cx = camera.cx(), cy = camera.cy();
  const double plane[9] = {p[0], p[1], p[3], p[4], p[5], p[7], p[8], p[9], p[11]};
  double kp[9];
  for (int c = 0; c < 3; ++c) {
    kp[c] = f * plane[c] + cx * plane[6 + c];
    kp[3 + c] = f * plane[3 + c] + cy * plane[6 + c];
    kp[6 + c] = plane[6 + c];
  }
  double forward[9] = {};
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k)
      for (int c = 0; c < 3; ++c) forward[3 * r + c] += kp[3 * r + k] * a[3 * k + c];
  return invert3(forward, inverse);
}

// Largest singular value of the 2 x 2 matrix [a b; c d].
double largestSingularValue(double a, double b, double c, double d) {
  const double s = a * a + b * b + c * c + d * d;
  const double det = a * d - b * c;
  const double disc = std::sqrt(std::max(0.0, s * s - 4.0 * det * det));
  return std::sqrt(0.5 * (s + disc));
}

void renderTarget(const std::vector<Image>& mips, const PoseMatrix& pose, const CameraModel& camera,
                  const Image& background, std::vector<float>* frame) {
  const Image& target = mips[0];
  double h[9];
  const int width = camera.width, height = camera.height;
  frame->assign(static_cast<size_t>(width) * height * 3, kFlatBackground);
  float* out = frame->data();
  if (!background.empty()) {
    for (size_t i = 0; i < frame->size(); ++i) out[i] = background.pixels[i];
  }
  if (!frameToTarget(pose, target.width, target.height, camera, h)) return;
  const double minX = -0.5, maxX = target.width - 0.5;
  const double minY = -0.5, maxY = target.height - 0.5;
  for (int v = 0; v < height; ++v) {
    for (int u = 0; u < width; ++u, out += 3) {
      double xs[4], ys[4];
      bool in[4];
      int inside = 0;
      for (int s = 0; s < 4; ++s) {
        const double su = u + kSubOffsets[s][0], sv = v + kSubOffsets[s][1];
        const double pz = h[6] * su + h[7] * sv + h[8];
        in[s] = false;
        if (pz > 0.0) {
          xs[s] = (h[0] * su + h[1] * sv + h[2]) / pz;
          ys[s] = (h[3] * su + h[4] * sv + h[5]) / pz;
          in[s] = xs[s] >= minX && xs[s] < maxX && ys[s] >= minY && ys[s] < maxY;
        }
        inside += in[s];
      }
      if (inside == 0) continue;
      // Target pixels per frame pixel along the most stretched direction;
      // unbounded when the pixel centre looks past the horizon.
      const double pz = h[6] * u + h[7] * v + h[8];
      double x = 0.0, y = 0.0, spread = std::numeric_limits<double>::infinity();
      if (pz > 0.0) {
        x = (h[0] * u + h[1] * v + h[2]) / pz;
        y = (h[3] * u + h[4] * v + h[5]) / pz;
        spread = largestSingularValue((h[0] - x * h[6]) / pz, (h[1] - x * h[7]) / pz,
                                      (h[3] - y * h[6]) / pz, (h[4] - y * h[7]) / pz);
      }
      float sample[3];
      if (inside == 4 && spread <= 1.0) {
        sampleBilinear(target, x, y, sample);
        for (int k = 0; k < 3; ++k) out[k] = sample[k];
        continue;
      }
      // Each sub-sample covers half a frame pixel on a side.
      const double level = spread > 2.0 ? std::log2(spread * 0.5) : 0.0;
      float sum[3] = {0.0f, 0.0f, 0.0f};
      for (int s = 0; s < 4; ++s) {
        if (!in[s]) continue;
        sampleMip(mips, xs[s], ys[s], level, sample);
        for (int k = 0; k < 3; ++k) sum[k] += sample[k];
      }
      const float backgroundShare = static_cast<float>(4 - inside);
      for (int k = 0; k < 3; ++k) out[k] = (sum[k] + backgroundShare * out[k]) * 0.25f;
    }
  }
}

// Separable blur of a 3-channel float image with the given symmetric
// kernel (weights[0] is the centre), edges clamped.
void blurSeparable(std::vector<float>* image, int width, int height,
                   const std::vector<float>& weights) {
  const int radius = static_cast<int>(weights.size()) - 1;
  std::vector<float> temp(image->size());
  float* src = image->data();
  float* dst = temp.data();
  for (int y = 0; y < height; ++y) {
    const float* row = src + static_cast<size_t>(y) * width * 3;
    float* outRow = dst + static_cast<size_t>(y) * width * 3;
    for (int x = 0; x < width; ++x) {
      for (int k = 0; k < 3; ++k) {
        float acc = weights[0] * row[3 * x + k];
        for (int d = 1; d <= radius; ++d) {
          const int left = std::max(x - d, 0), right = std::min(x + d, width - 1);
          acc += weights[d] * (row[3 * left + k] + row[3 * right + k]);
        }
        outRow[3 * x + k] = acc;
      }
    }
  }
  const size_t stride = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    float* outRow = src + y * stride;
    const float* centre = dst + y * stride;
    for (size_t i = 0; i < stride; ++i) outRow[i] = weights[0] * centre[i];
    for (int d = 1; d <= radius; ++d) {
      const float* up = dst + std::max(y - d, 0) * stride;
      const float* down = dst + std::min(y + d, height - 1) * stride;
      for (size_t i = 0; i < stride; ++i) outRow[i] += weights[d] * (up[i] + down[i]);
    }
  }
}

std::vector<float> blurWeights(BlurKind kind, double radius) {
  std::vector<float> weights;
  if (kind == BlurKind::kBox) {
    const int r = static_cast<int>(std::lround(radius));
    weights.assign(r + 1, 1.0f / (2 * r + 1));
  } else if (kind == BlurKind::kGaussian) {
    const int r = static_cast<int>(std::ceil(3.0 * radius));
    double sum = 0.0;
    std::vector<double> w(r + 1);
    for (int d = 0; d <= r; ++d) {
      w[d] = std::exp(-0.5 * d * d / (radius * radius));
      sum += d == 0 ? w[d] : 2.0 * w[d];
    }
    for (double value : w) weights.push_back(static_cast<float>(value / sum));
  }
  return weights;
}

// Standard normal numbers by the Box-Muller transform over the library's
// generator, so a seed gives the same noise on every platform.
class GaussianSource {
 public:
  explicit GaussianSource(uint32_t seed) : random_(seed * 0x9E3779B1u + 0x7F4A7C15u) {}
  float next() {
    if (hasSpare_) {
      hasSpare_ = false;
      return spare_;
    }
    const double u1 = (random_.next() + 1.0) / 4294967296.0;
    const double u2 = random_.next() / 4294967296.0;
    const double r = std::sqrt(-2.0 * std::log(u1));
    spare_ = static_cast<float>(r * std::sin(2.0 * kPi * u2));
    hasSpare_ = true;
    return static_cast<float>(r * std::cos(2.0 * kPi * u2));
  }

 private:
  Random random_;
  float spare_ = 0.0f;
  bool hasSpare_ = false;
};

bool checkOptions(const ViewOptions& o, std::string* error) {
  if (o.camera.width <= 0 || o.camera.height <= 0 || o.camera.width > kMaxFrameSide ||
      o.camera.height > kMaxFrameSide) {
    setError(error, "frame size must be 1.." + std::to_string(kMaxFrameSide) + " on each side");
    return false;
  }
  if (!std::isfinite(o.blurRadius) || o.blurRadius < 0.0 || o.blurRadius > kMaxBlurRadius) {
    setError(error, "blur radius must be 0..100");
    return false;
  }
  if (!std::isfinite(o.contrast) || !std::isfinite(o.brightness)) {
    setError(error, "contrast and brightness must be finite");
    return false;
  }
  if (!std::isfinite(o.noiseSigma) || o.noiseSigma < 0.0) {
    setError(error, "noise sigma must be a finite non-negative number");
    return false;
  }
  if (o.jpegQuality < 0 || o.jpegQuality > 100) {
    setError(error, "JPEG quality must be 0 (none) or 1..100");
    return false;
  }
  if (o.background && !validImage(*o.background)) {
    setError(error, "background image is empty or malformed");
    return false;
  }
  return true;
}

}  // namespace

bool renderView(const Image& target, const PoseMatrix& cameraFromTarget, const ViewOptions& options,
                RenderedView* view, std::string* error) {
  if (!view) {
    setError(error, "no output view");
    return false;
  }
  if (!validImage(target)) {
    setError(error, "target image is empty or malformed");
    return false;
  }
  for (double value : cameraFromTarget) {
    if (!std::isfinite(value)) {
      setError(error, "pose has a non-finite element");
      return false;
    }
  }
  if (!checkOptions(options, error)) return false;
  const CameraModel& camera = options.camera;
  const int width = camera.width, height = camera.height;

  std::vector<Image> mips;
  mips.push_back(toBgr(target));
  while (mips.back().width > 1 || mips.back().height > 1) mips.push_back(halve(mips.back()));

  Image background;
  if (options.background) {
    const Image& photo = *options.background;
    background = photo.width == width && photo.height == height
                     ? toBgr(photo)
                     : fitBackground(photo, width, height);
  }
  std::vector<float> frame;
  renderTarget(mips, cameraFromTarget, camera, background, &frame);

  if (options.blur != BlurKind::kNone && options.blurRadius > 0.0) {
    const std::vector<float> weights = blurWeights(options.blur, options.blurRadius);
    if (weights.size() > 1) blurSeparable(&frame, width, height, weights);
  }
  const float gain = static_cast<float>(options.contrast);
  const float offset = static_cast<float>(options.brightness);
  const bool noisy = options.noiseSigma > 0.0;
  const float sigma = static_cast<float>(options.noiseSigma);
  GaussianSource gaussian(options.seed);
  Image result(width, height, 3);
  for (size_t i = 0; i < frame.size(); ++i) {
    float value = (frame[i] - 128.0f) * gain + 128.0f + offset;
    if (noisy) value += sigma * gaussian.next();
    value = std::min(std::max(value, 0.0f), 255.0f);
    result.pixels[i] = static_cast<uint8_t>(value + 0.5f);
  }
  if (options.jpegQuality > 0) {
    std::vector<uint8_t> bytes;
    Image decoded;
    if (!encodeJpeg(result, options.jpegQuality, &bytes, error) ||
        !decodeJpeg(bytes.data(), bytes.size(), &decoded, error)) {
      return false;
    }
    result = toBgr(decoded);
  }
  view->frame = std::move(result);
  view->truth = computeFrameTruth(cameraFromTarget, target.width, target.height, camera);
  return true;
}

Image fitBackground(const Image& photo, int width, int height) {
  if (!validImage(photo) || width <= 0 || height <= 0) return Image();
  Image source = toBgr(photo);
  double scale = std::max(static_cast<double>(width) / source.width,
                          static_cast<double>(height) / source.height);
  // Shrink by halves first so that the final bilinear step never skips pixels.
  while (scale < 0.5 && source.width > 1 && source.height > 1) {
    const double before = source.width;
    source = halve(source);
    scale *= before / source.width;
  }
  Image result(width, height, 3);
  const double cx = 0.5 * width, cy = 0.5 * height;
  const double sx = 0.5 * source.width, sy = 0.5 * source.height;
  float sample[3];
  for (int v = 0; v < height; ++v) {
    uint8_t* row = result.row(v);
    for (int u = 0; u < width; ++u) {
      sampleBilinear(source, (u + 0.5 - cx) / scale + sx - 0.5, (v + 0.5 - cy) / scale + sy - 0.5,
                     sample);
      for (int k = 0; k < 3; ++k) row[3 * u + k] = static_cast<uint8_t>(sample[k] + 0.5f);
    }
  }
  return result;
}

Image makeClutter(int width, int height, uint32_t seed) {
  if (width <= 0 || height <= 0) return Image();
  Random random(seed * 0x85EBCA6Bu + 0xC2B2AE35u);
  auto uniform = [&random](double lo, double hi) {
    return lo + (hi - lo) * (random.next() / 4294967296.0);
  };
  Image image(width, height, 3);
  // Soft two-colour gradient underneath.
  uint8_t base0[3], base1[3];
  for (int k = 0; k < 3; ++k) {
    base0[k] = static_cast<uint8_t>(random.uniform(256));
    base1[k] = static_cast<uint8_t>(random.uniform(256));
  }
  for (int v = 0; v < height; ++v) {
    uint8_t* row = image.row(v);
    for (int u = 0; u < width; ++u) {
      const double t = 0.5 * (static_cast<double>(u) / width + static_cast<double>(v) / height);
      for (int k = 0; k < 3; ++k)
        row[3 * u + k] = static_cast<uint8_t>(base0[k] + t * (base1[k] - base0[k]));
    }
  }
  const int shapes = std::max(8, width * height / 2500);
  const double side = std::max(width, height);
  for (int n = 0; n < shapes; ++n) {
    uint8_t colour[3], second[3];
    for (int k = 0; k < 3; ++k) {
      colour[k] = static_cast<uint8_t>(random.uniform(256));
      second[k] = static_cast<uint8_t>(random.uniform(256));
    }
    const int kind = static_cast<int>(random.uniform(4));
    const double cx = uniform(0, width), cy = uniform(0, height);
    const double rx = uniform(0.01, 0.08) * side, ry = uniform(0.01, 0.08) * side;
    const double angle = uniform(0, kPi);
    const double ca = std::cos(angle), sa = std::sin(angle);
    const double period = uniform(3.0, 12.0);
    const double reach = std::max(rx, ry) * 1.5;
    const int u0 = std::max(0, static_cast<int>(cx - reach));
    const int u1 = std::min(width - 1, static_cast<int>(cx + reach));
    const int v0 = std::max(0, static_cast<int>(cy - reach));
    const int v1 = std::min(height - 1, static_cast<int>(cy + reach));
    for (int v = v0; v <= v1; ++v) {
      uint8_t* row = image.row(v);
      for (int u = u0; u <= u1; ++u) {
        // Shape-local coordinates, turned by the shape's angle.
        const double dx = u - cx, dy = v - cy;
        const double lx = ca * dx + sa * dy, ly = -sa * dx + ca * dy;
        const uint8_t* paint = nullptr;
        switch (kind) {
          case 0:  // rectangle
            if (std::fabs(lx) <= rx && std::fabs(ly) <= ry) paint = colour;
            break;
          case 1:  // ellipse
            if ((lx * lx) / (rx * rx) + (ly * ly) / (ry * ry) <= 1.0) paint = colour;
            break;
          case 2:  // striped patch
            if (std::fabs(lx) <= rx && std::fabs(ly) <= ry)
              paint = std::fmod(lx + 1000.0 * period, 2.0 * period) < period ? colour : second;
            break;
          default:  // checkered patch
            if (std::fabs(lx) <= rx && std::fabs(ly) <= ry) {
              const int a = static_cast<int>(std::floor(lx / period));
              const int b = static_cast<int>(std::floor(ly / period));
              paint = ((a + b) & 1) ? colour : second;
            }
            break;
        }
        if (paint) {
          for (int k = 0; k < 3; ++k) row[3 * u + k] = paint[k];
        }
      }
    }
  }
  return image;
}

}  // namespace vornik
