#include "tracking/keyframe.h"

#include <vector>

namespace vornik {

Keyframe::Keyframe() {
  keyframePose.fill(0.0f);
  for (int i = 0; i < 4; ++i) keyframePose[i * 5] = 1.0f;
}

void Keyframe::buildTrackPoints() {
  trackPoints.clear();
  trackPoints.resize(corners.size());
  for (size_t i = 0; i < corners.size(); ++i) trackPoints[i].corner = &corners[i];
  for (int32_t i = 0; i < kMaxLevels; ++i) {
    const GrayImage* level = getLevel(i);
    smoothed_[i] = level != nullptr ? smoothForMinification(*level) : nullptr;
  }
}

const GrayImage* Keyframe::smoothedLevel(int32_t index) const {
  if (index < 0 || index >= kMaxLevels) return nullptr;
  return smoothed_[index].get();
}

std::unique_ptr<GrayImage> smoothForMinification(const GrayImage& image) {
  const int32_t w = image.width;
  const int32_t h = image.height;
  auto out = std::make_unique<GrayImage>(w, h, GrayImage::Uninitialised{});
  if (w <= 0 || h <= 0 || !image.pixels) return out;
  std::vector<uint16_t> rows(static_cast<size_t>(w) * h);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* in = image.pixels.get() + static_cast<size_t>(y) * w;
    uint16_t* row = rows.data() + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t left = in[x > 0 ? x - 1 : 0];
      const int32_t right = in[x + 1 < w ? x + 1 : w - 1];
      row[x] = static_cast<uint16_t>(left + 6 * in[x] + right);
    }
  }
  for (int32_t y = 0; y < h; ++y) {
    const uint16_t* up = rows.data() + static_cast<size_t>(y > 0 ? y - 1 : 0) * w;
    const uint16_t* mid = rows.data() + static_cast<size_t>(y) * w;
    const uint16_t* down = rows.data() + static_cast<size_t>(y + 1 < h ? y + 1 : h - 1) * w;
    uint8_t* dst = out->pixels.get() + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      dst[x] = static_cast<uint8_t>((up[x] + 6 * mid[x] + down[x] + 32) >> 6);
    }
  }
  return out;
}

}  // namespace vornik
