#include "builder/image_resample.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vornik {

namespace {

// Filter taps of one axis: for each output index the first source index and
// its normalised weights.
struct AxisTaps {
  std::vector<int> first;
  std::vector<int> count;
  std::vector<float> weights;  // `maxTaps` per output index
  int maxTaps = 0;
};

AxisTaps makeTaps(int sourceSize, int targetSize) {
  AxisTaps taps;
  const double scale = static_cast<double>(sourceSize) / targetSize;
  const double radius = std::max(1.0, scale);
  taps.maxTaps = static_cast<int>(std::ceil(2.0 * radius)) + 1;
  taps.first.resize(targetSize);
  taps.count.resize(targetSize);
  taps.weights.assign(static_cast<size_t>(targetSize) * taps.maxTaps, 0.0f);
  for (int i = 0; i < targetSize; ++i) {
    const double centre = (i + 0.5) * scale - 0.5;
    int lo = static_cast<int>(std::floor(centre - radius)) + 1;
    int hi = static_cast<int>(std::ceil(centre + radius)) - 1;
    lo = std::max(lo, 0);
    hi = std::min(hi, sourceSize - 1);
    if (hi - lo + 1 > taps.maxTaps) hi = lo + taps.maxTaps - 1;
    double sum = 0.0;
    float* w = &taps.weights[static_cast<size_t>(i) * taps.maxTaps];
    for (int s = lo; s <= hi; ++s) {
      const double v = std::max(0.0, 1.0 - std::fabs(s - centre) / radius);
      w[s - lo] = static_cast<float>(v);
      sum += v;
    }
    if (sum <= 0.0) {
      // Only at the very edge: take the nearest source sample.
      lo = std::min(std::max(static_cast<int>(std::lround(centre)), 0), sourceSize - 1);
      hi = lo;
      w[0] = 1.0f;
      sum = 1.0;
    }
    for (int s = 0; s <= hi - lo; ++s) w[s] = static_cast<float>(w[s] / sum);
    taps.first[i] = lo;
    taps.count[i] = hi - lo + 1;
  }
  return taps;
}

}  // namespace

Image resampleImage(const Image& source, int width, int height) {
  if (width < 1 || height < 1 || source.empty()) return Image();
  const int c = source.channels;
  const AxisTaps tx = makeTaps(source.width, width);
  const AxisTaps ty = makeTaps(source.height, height);

  // Horizontal pass over every source row, into floats.
  std::vector<float> rows(static_cast<size_t>(source.height) * width * c);
  for (int y = 0; y < source.height; ++y) {
    const uint8_t* in = source.row(y);
    float* out = &rows[static_cast<size_t>(y) * width * c];
    for (int x = 0; x < width; ++x) {
      const float* w = &tx.weights[static_cast<size_t>(x) * tx.maxTaps];
      const uint8_t* p = in + static_cast<size_t>(tx.first[x]) * c;
      for (int ch = 0; ch < c; ++ch) {
        float acc = 0.0f;
        for (int k = 0; k < tx.count[x]; ++k) acc += w[k] * p[k * c + ch];
        out[x * c + ch] = acc;
      }
    }
  }

  Image result(width, height, c);
  const size_t rowFloats = static_cast<size_t>(width) * c;
  std::vector<float> acc(rowFloats);
  for (int y = 0; y < height; ++y) {
    std::fill(acc.begin(), acc.end(), 0.0f);
    const float* w = &ty.weights[static_cast<size_t>(y) * ty.maxTaps];
    for (int k = 0; k < ty.count[y]; ++k) {
      const float* in = &rows[static_cast<size_t>(ty.first[y] + k) * rowFloats];
      const float wk = w[k];
      for (size_t i = 0; i < rowFloats; ++i) acc[i] += wk * in[i];
    }
    uint8_t* out = result.row(y);
    for (size_t i = 0; i < rowFloats; ++i) {
      const float v = acc[i] + 0.5f;
      out[i] = static_cast<uint8_t>(v <= 0.0f ? 0 : (v >= 255.0f ? 255 : static_cast<int>(v)));
    }
  }
  return result;
}

Image normaliseTargetImage(const Image& source, int workingSize) {
  if (source.empty() || workingSize < 1) return Image();
  int width = workingSize;
  int height = workingSize;
  if (source.width >= source.height) {
    height = static_cast<int>(
        std::lround(static_cast<double>(source.height) * workingSize / source.width));
  } else {
    width = static_cast<int>(
        std::lround(static_cast<double>(source.width) * workingSize / source.height));
  }
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (width == source.width && height == source.height) return source;
  return resampleImage(source, width, height);
}

Image mirrorGreyImage(const Image& grey) {
  Image out(grey.width, grey.height, 1);
  for (int y = 0; y < grey.height; ++y) {
    const uint8_t* in = grey.row(y);
    std::reverse_copy(in, in + grey.width, out.row(y));
  }
  return out;
}

}  // namespace vornik
