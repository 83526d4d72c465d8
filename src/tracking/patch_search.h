#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "features/frame.h"
#include "features/gray_image.h"
#include "platform/cpu_features.h"
#include "tracking/keyframe.h"
#include "tracking/patch_template.h"
#include "tracking/pose_types.h"

namespace vornik {

struct SpiralOffset {
  int32_t dx;
  int32_t dy;
};
using SpiralOffsets = std::vector<SpiralOffset>;

// (0, 0), then rings 1 .. radius - 1 walked top, right, bottom, left; only
// offsets with squared length at most radius^2 are kept.
SpiralOffsets computeSpiralOffsets(int32_t radius);

// Offset lists computed once per radius. Not locked: get may add a list, so
// a cache that several threads share is filled first and then only read
// with find.
class SpiralOffsetCache {
 public:
  const SpiralOffsets& get(int32_t radius);
  // Null when no list for `radius` was made yet.
  const SpiralOffsets* find(int32_t radius) const;

 private:
  std::map<int32_t, SpiralOffsets> lists_;
};

// Cache of the single-threaded searches (one per calling thread).
const SpiralOffsets& spiralOffsets(int32_t radius);

// Cuts the 8 x 8 template around (centreX, centreY) of `source`, sampling
// centre + warp * (x, y) for x, y in -4..3 with 8-bit fixed-point bilinear
// weights. False (template untouched) when a corner of the warped square
// lies outside the image.
bool makeTemplate(const GrayImage& source, float centreX, float centreY, const float warp[4],
                  PatchTemplate& patch);

// The sampling of makeTemplate (pixels, sum and sum of squares) once the
// corners are known to lie inside; every form this processor runs, the
// scalar reference first.
using TemplateSampler = void (*)(const GrayImage& source, float centreX, float centreY,
                                 const float warp[4], PatchTemplate& patch);
std::vector<NamedKernel<TemplateSampler>> templateSamplers();

// Normalised cross-correlation of the template with the 8 x 8 window whose
// top-left pixel is (left, top); the window must lie inside the image. A flat
// window or template (no variance) scores 0.
float correlationScore(const PatchTemplate& patch, const GrayImage& image, int32_t left,
                       int32_t top);

// Scores the windows centred at centre + offset in offset order. A window
// scoring above 0.95 ends the search. Found when the best score is at least
// 0.3; the best score (0 on failure) is kept in patch.score.
bool findPatchCoarse(PatchTemplate& patch, const GrayImage& image, int32_t centreX, int32_t centreY,
                     const SpiralOffsets& offsets, float* foundX, float* foundY);

// Gradients of the inner 6 x 6 pixels and the inverse of their normal matrix
// (position and brightness offset). False, with a line on standard output,
// when that matrix is not of full rank.
bool makeSubpixelTemplate(PatchTemplate& patch);

// Gauss-Newton refinement of (patch.subpixelX, patch.subpixelY), which hold
// the start position on entry and the refined position on success.
// The three sums of one refinement step: over the inner 6 x 6 template
// pixels, e = bilinear sample (weights w00, w10, w01, w11 of the 2 x 2
// neighbours from `origin`, rows `stride` apart) - template + mean
// difference; sums of gradientX * e, gradientY * e and e. Every form this
// processor runs, the scalar reference first.
using SubpixelSums = void (*)(const PatchTemplate& patch, const uint8_t* origin, int32_t stride,
                              const float weights[4], float b[3]);
std::vector<NamedKernel<SubpixelSums>> subpixelSumsForms();

bool iterateSubpixel(PatchTemplate& patch, const GrayImage& image, int32_t maxIterations,
                     SubpixelSums sums = nullptr);

// Searches every listed point in `frame` with templates warped out of the
// keyframe. Returns the number found (with sub-pixel iterations: found and
// refined).
int32_t searchPointsInKeyframe(const Keyframe& keyframe, const std::vector<TrackPoint*>& points,
                               const Frame& frame, int32_t radius, int32_t subpixelIterations);

// The same search spread over `threads` (1 .. 3, three by default) worker
// threads that share the list. Workers that cannot be started are made up
// for by the calling thread, so every point is still searched exactly once.
int32_t searchPointsInKeyframeThreaded(const Keyframe& keyframe,
                                       const std::vector<TrackPoint*>& points, const Frame& frame,
                                       int32_t radius, int32_t subpixelIterations,
                                       int32_t threads = 3);

// Searches every listed point in `frame` with unwarped templates cut from the
// previous frame where `previousPose` put it.
int32_t searchPointsInPreviousFrame(const Frame& previous, const Mat44f& previousPose,
                                    const std::vector<TrackPoint*>& points, const Frame& frame,
                                    const Mat44f& pose);

// Projects a target-plane point (X, Y, 0) with a pose onto `level` of a
// frame whose level 0 is width x height: camera position, normalised
// position and pixel position on that level.
void projectPlanePoint(const Mat44f& pose, float X, float Y, int32_t width, int32_t height,
                       int32_t level, float camera[3], float normalized[2], float pixel[2]);

// Pixel position on `level` of a frame (level 0 width x height) of a
// normalised camera position.
void normalizedToLevel(const float normalized[2], int32_t width, int32_t height, int32_t level,
                       float pixel[2]);

}  // namespace vornik
