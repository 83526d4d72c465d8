#include "builder/training_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "features/random.h"

namespace vornik {

namespace {

constexpr int kMinMipSide = 4;
constexpr float kFlatGrey = 128.0f;

Image halve(const Image& src) {
  Image dst(std::max(src.width / 2, 1), std::max(src.height / 2, 1), 1);
  for (int y = 0; y < dst.height; ++y) {
    const uint8_t* r0 = src.row(std::min(2 * y, src.height - 1));
    const uint8_t* r1 = src.row(std::min(2 * y + 1, src.height - 1));
    uint8_t* out = dst.row(y);
    for (int x = 0; x < dst.width; ++x) {
      const int x0 = std::min(2 * x, src.width - 1);
      const int x1 = std::min(2 * x + 1, src.width - 1);
      out[x] = static_cast<uint8_t>((r0[x0] + r0[x1] + r1[x0] + r1[x1] + 2) >> 2);
    }
  }
  return dst;
}

// Bilinear sample; coordinates are clamped into the image, which must be at
// least 2 pixels a side.
inline float bilinear(const Image& image, float x, float y) {
  x = std::min(std::max(x, 0.0f), image.width - 1.001f);
  y = std::min(std::max(y, 0.0f), image.height - 1.001f);
  const int x0 = static_cast<int>(x);
  const int y0 = static_cast<int>(y);
  const float fx = x - x0;
  const float fy = y - y0;
  const uint8_t* p = image.pixels.data() + static_cast<size_t>(y0) * image.width + x0;
  const float top = p[0] + fx * (p[1] - p[0]);
  const float bottom = p[image.width] + fx * (p[image.width + 1] - p[image.width]);
  return top + fy * (bottom - top);
}

// log2 for the mip level: exponent plus a linear mantissa, off by less than
// 0.09, which only shifts the blend between two mip levels slightly.
inline float roughLog2(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return static_cast<float>(static_cast<int>(bits >> 23) - 127) +
         static_cast<float>(bits & 0x7FFFFFu) * (1.0f / 8388608.0f);
}

void gaussianBlur(std::vector<float>* image, std::vector<float>* scratch, int width, int height,
                  double sigma) {
  const int radius = std::max(1, static_cast<int>(std::ceil(2.5 * sigma)));
  std::vector<float> kernel(2 * radius + 1);
  double sum = 0.0;
  for (int i = -radius; i <= radius; ++i) {
    kernel[i + radius] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
    sum += kernel[i + radius];
  }
  for (float& k : kernel) k = static_cast<float>(k / sum);
  scratch->resize(image->size());
  float* in = image->data();
  float* tmp = scratch->data();
  // Rows with their edge pixels repeated, so the inner loop needs no clamping.
  std::vector<float> padded(width + 2 * radius);
  for (int y = 0; y < height; ++y) {
    const float* row = in + static_cast<size_t>(y) * width;
    std::fill(padded.begin(), padded.begin() + radius, row[0]);
    std::copy(row, row + width, padded.begin() + radius);
    std::fill(padded.begin() + radius + width, padded.end(), row[width - 1]);
    float* out = tmp + static_cast<size_t>(y) * width;
    std::fill(out, out + width, 0.0f);
    for (int k = 0; k <= 2 * radius; ++k) {
      const float w = kernel[k];
      const float* src = padded.data() + k;
      for (int x = 0; x < width; ++x) out[x] += w * src[x];
    }
  }
  for (int y = 0; y < height; ++y) {
    float* out = in + static_cast<size_t>(y) * width;
    std::fill(out, out + width, 0.0f);
    for (int k = -radius; k <= radius; ++k) {
      const int ys = std::min(std::max(y + k, 0), height - 1);
      const float* row = tmp + static_cast<size_t>(ys) * width;
      const float w = kernel[k + radius];
      for (int x = 0; x < width; ++x) out[x] += w * row[x];
    }
  }
}

}  // namespace

TrainingRenderer::TrainingRenderer(const Image& target, int width, int height)
    : width_(width), height_(height) {
  mips_.push_back(target);
  while (std::min(mips_.back().width, mips_.back().height) >= 2 * kMinMipSide) {
    mips_.push_back(halve(mips_.back()));
  }
}

float TrainingRenderer::sample(float x, float y, float level) const {
  const int top = static_cast<int>(mips_.size()) - 1;
  if (level <= 0.0f) return bilinear(mips_[0], x, y);
  const int l0 = std::min(static_cast<int>(level), top);
  const float s0 = 1.0f / static_cast<float>(1 << l0);
  const float v0 = bilinear(mips_[l0], (x + 0.5f) * s0 - 0.5f, (y + 0.5f) * s0 - 0.5f);
  if (l0 >= top) return v0;
  const float s1 = s0 * 0.5f;
  const float v1 = bilinear(mips_[l0 + 1], (x + 0.5f) * s1 - 0.5f, (y + 0.5f) * s1 - 0.5f);
  const float f = level - static_cast<float>(l0);
  return v0 + f * (v1 - v0);
}

void TrainingRenderer::render(const Homography& h, const Image* background,
                              const TrainingEffects& effects, Image* frame) {
  const size_t count = static_cast<size_t>(width_) * height_;
  work_.resize(count);
  const Image& target = mips_[0];
  const double maxX = target.width - 0.5;
  const double maxY = target.height - 0.5;
  // Area of a frame pixel on the target: |det H| / w^3.
  const double det =
      std::fabs(h[0] * (h[4] * h[8] - h[5] * h[7]) - h[1] * (h[3] * h[8] - h[5] * h[6]) +
                h[2] * (h[3] * h[7] - h[4] * h[6]));
  const float gain = static_cast<float>(effects.contrast);
  const float offset = static_cast<float>(kFlatGrey + effects.brightness - kFlatGrey * gain);
  for (int v = 0; v < height_; ++v) {
    float* out = &work_[static_cast<size_t>(v) * width_];
    const uint8_t* back = background != nullptr ? background->row(v) : nullptr;
    const double nx = h[1] * v + h[2];
    const double ny = h[4] * v + h[5];
    const double nw = h[7] * v + h[8];
    for (int u = 0; u < width_; ++u) {
      const double w = h[6] * u + nw;
      float value = back != nullptr ? back[u] : kFlatGrey;
      if (w > 1e-12) {
        const double x = (h[0] * u + nx) / w;
        const double y = (h[3] * u + ny) / w;
        if (x >= -0.5 && y >= -0.5 && x < maxX && y < maxY) {
          const float area = static_cast<float>(det / (w * w * w));
          const float level = area > 1.0f ? 0.5f * roughLog2(area) : 0.0f;
          value = sample(static_cast<float>(x), static_cast<float>(y), level);
        }
      }
      out[u] = value * gain + offset;
    }
  }
  if (effects.blurSigma > 0.0) gaussianBlur(&work_, &blurred_, width_, height_, effects.blurSigma);

  Random random(effects.seed);
  const bool noisy = effects.noiseSigma > 0.0;
  // Sum of four uniforms, scaled to unit variance: close enough to Gaussian
  // for camera noise and far cheaper.
  const float noiseScale = static_cast<float>(effects.noiseSigma * std::sqrt(3.0));
  *frame = Image(width_, height_, 1);
  uint8_t* dst = frame->pixels.data();
  for (size_t i = 0; i < count; ++i) {
    float value = work_[i];
    if (noisy) {
      const uint32_t r = random.next();
      const int sum = static_cast<int>(r & 0xFF) + static_cast<int>((r >> 8) & 0xFF) +
                      static_cast<int>((r >> 16) & 0xFF) + static_cast<int>(r >> 24);
      value += noiseScale * (static_cast<float>(sum) / 255.0f - 2.0f);
    }
    value += 0.5f;
    dst[i] =
        static_cast<uint8_t>(value <= 0.0f ? 0 : (value >= 255.0f ? 255 : static_cast<int>(value)));
  }
}

}  // namespace vornik
