#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "features/frame.h"
#include "tracking/patch_template.h"

namespace vornik {

// One keyframe corner followed from frame to frame.
struct TrackPoint {
  const KeyframeCorner* corner = nullptr;
  float source[2] = {};      // template centre in the source image, pixels
  float camera[3] = {};      // point in camera coordinates under the current pose
  float projected[2] = {};   // projection at the search level, pixels
  float normalized[2] = {};  // camera X/Z and Y/Z
  float found[2] = {};       // search result at the search level, pixels
  float weight = 0.0f;
  float error[2] = {};  // found minus projected
  float squaredError = 0.0f;
  std::unique_ptr<PatchTemplate> patch;
  // Search-level pixel offsets to source-level pixel offsets, row-major 2 x 2.
  float warp[4] = {};
  float jacobianU[6] = {};
  float jacobianV[6] = {};
  int32_t sourceLevel = 0;
  int32_t searchLevel = 0;
  // Keyframe levels the source was moved from the base for range (positive:
  // coarser); the search radius follows the search level alone.
  int32_t sourceShift = 0;
  bool inImage = false;
  bool searched = false;
  bool isFound = false;
  bool inlier = false;
  bool refined = false;
};

// Level whose width lies in (200, 400] for the usual frame sizes: where
// keyframe corners are detected and where tracking projects first.
inline int32_t trackingBaseLevel(const Frame& frame) {
  return frame.firstLevel() + frame.levelCount() - 3;
}

// The target image as a pyramid with one track point per tracking corner.
class Keyframe : public Frame {
 public:
  Keyframe();

  // One point per entry of `corners`, in that order, and the smoothed
  // levels. Call once `corners` and the levels are final: the points refer to
  // the corners.
  void buildTrackPoints();

  // Level `index` lightly smoothed, the source of templates that minify:
  // their samples lie further apart than the level's pixels and would alias.
  // Null where getLevel is.
  const GrayImage* smoothedLevel(int32_t index) const;

  std::vector<TrackPoint> trackPoints;

 private:
  std::array<std::unique_ptr<GrayImage>, kMaxLevels> smoothed_;
};

// Separable (1 6 1) / 8 smoothing with the border pixels repeated, rounded:
// a footprint about twice a pixel's, as the frame pyramid gives a target
// seen at half the keyframe level's scale.
std::unique_ptr<GrayImage> smoothForMinification(const GrayImage& image);

}  // namespace vornik
