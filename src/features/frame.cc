#include "features/frame.h"

#include <cstring>

#include "features/pyramid_coordinates.h"

namespace vornik {

namespace {
constexpr int32_t kMinPyramidWidth = 50;
constexpr int32_t kCoarsestMaxWidth = 100;
}  // namespace

void normalizeCorners(int32_t width, int32_t height, int32_t level,
                      std::vector<KeyframeCorner>* corners) {
  if (corners == nullptr || width <= 0 || level < 0 || level >= Frame::kMaxLevels) return;
  for (KeyframeCorner& c : *corners) {
    c.X = levelToUnit(static_cast<float>(c.x), level, width, width);
    c.Y = -levelToUnit(static_cast<float>(c.y), level, height, width);
  }
}

int32_t pyramidLevelCount(int32_t width) {
  if (width < kMinPyramidWidth) return 0;
  int32_t k = 0;
  // 64-bit so the shift cannot overflow for any int32 width.
  while ((int64_t{kCoarsestMaxWidth} << k) < width) ++k;
  const int32_t count = k + 1;
  return count < Frame::kMaxLevels ? count : Frame::kMaxLevels;
}

Frame::Frame() = default;

Frame::~Frame() = default;

void Frame::buildPyramid(std::unique_ptr<GrayImage> image) {
  if (!image) return;
  for (auto& level : levels_) level.reset();
  levelCount_ = pyramidLevelCount(image->width) - firstLevel_;
  if (levelCount_ < 0) levelCount_ = 0;
  if (levelCount_ == 0) {
    // Too small for any level: the image is released, nothing is kept.
    return;
  }
  levels_[0] = std::move(image);
  for (int32_t i = 1; i < levelCount_; ++i) levels_[i] = downsampleHalf(*levels_[i - 1]);
}

void Frame::buildPyramid(const uint8_t* pixels, int32_t width, int32_t height, bool convert) {
  if (pixels == nullptr) return;
  levelCount_ = pyramidLevelCount(width) - firstLevel_;
  if (levelCount_ <= 0 || height <= 0) {
    levelCount_ = 0;
    return;
  }
  int32_t w = width;
  int32_t h = height;
  for (int32_t i = 0; i < levelCount_; ++i) {
    std::unique_ptr<GrayImage>& level = levels_[i];
    if (!level || level->width != w || level->height != h) {
      level = std::make_unique<GrayImage>(w, h, GrayImage::Uninitialised{});
    }
    w >>= 1;
    h >>= 1;
  }
  uint8_t* base = levels_[0]->pixels.get();
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (convert) {
    convertToGray(pixels, count, base);
  } else {
    std::memcpy(base, pixels, count);
  }
  for (int32_t i = 1; i < levelCount_; ++i) {
    const GrayImage& finer = *levels_[i - 1];
    downsampleHalfInto(finer.pixels.get(), finer.width, finer.height, levels_[i]->pixels.get());
  }
}

GrayImage* Frame::getLevel(int32_t index) const {
  if (index < 0 || index >= levelCount_) return nullptr;
  return levels_[index].get();
}

}  // namespace vornik
