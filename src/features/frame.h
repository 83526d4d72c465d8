#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "features/gray_image.h"

namespace vornik {

// A tracker corner: pixel position on the level it was found on, and its
// position on the target plane (see normalizeCorners).
struct KeyframeCorner {
  int32_t x = 0;
  int32_t y = 0;
  float X = 0.0f;
  float Y = 0.0f;  // positive upwards
};

// Plane coordinates of corners found on `level` of an image whose level 0 is
// width x height: X = (x0 - width/2) / width, Y = (height/2 - y0) / width for
// the full-resolution position (x0, y0) of the corner's pixel centre. Both
// are divided by the width so the plane keeps the pixel aspect. A
// non-positive width leaves the corners unchanged.
void normalizeCorners(int32_t width, int32_t height, int32_t level,
                      std::vector<KeyframeCorner>* corners);

// Level count for a level-0 width: the smallest k with 100 * 2^k >= width,
// plus one, capped at the level slots; 0 below width 50.
int32_t pyramidLevelCount(int32_t width);

// Image pyramid of one grey image plus the tracker corners found on it.
// Keyframe derives from it.
class Frame {
 public:
  static constexpr int32_t kMaxLevels = 6;
  static constexpr int32_t kGridRows = 4;
  static constexpr int32_t kGridCols = 5;

  Frame();
  virtual ~Frame();
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  // Takes the image as level 0 and fills the coarser levels by halving.
  // A null image leaves the Frame unchanged. Building again replaces the
  // previous pyramid.
  void buildPyramid(std::unique_ptr<GrayImage> image);
  void buildPyramid(GrayImage* image) { buildPyramid(std::unique_ptr<GrayImage>(image)); }
  // The same from a camera picture, grey (convert false) or blue-green-red
  // (convert true), reusing this Frame's level storage when the size has not
  // changed, so a tracker that keeps its Frames allocates nothing per frame.
  void buildPyramid(const uint8_t* pixels, int32_t width, int32_t height, bool convert);

  // Level `index` for 0 <= index < levelCount(), else null.
  GrayImage* getLevel(int32_t index) const;

  int32_t firstLevel() const { return firstLevel_; }
  int32_t levelCount() const { return levelCount_; }
  int32_t gridRows() const { return kGridRows; }
  int32_t gridCols() const { return kGridCols; }

  std::array<float, 16> keyframePose{};  // column-major 4 x 4; used by Keyframe
  std::vector<KeyframeCorner> corners;   // filled by detectTrackingCorners

 private:
  int32_t firstLevel_ = 0;
  int32_t levelCount_ = 0;
  std::array<std::unique_ptr<GrayImage>, kMaxLevels> levels_;
};

}  // namespace vornik
