#pragma once
#include <cstdint>

#include "features/frame.h"
#include "tracking/pose_types.h"

namespace vornik {

// Cells across the target's width that poseAgreement compares.
constexpr int32_t kAgreementCellsAcross = 32;
// Fewest cells inside the frame for a verdict.
constexpr int32_t kAgreementMinCells = 24;

// How well a pose explains the frame. A grid of cells over the target
// (`cellsAcross` across its width, square) gives each cell's mean
// brightness in the target image and in the frame where `pose` puts the
// cell; the result is the normalised cross-correlation of the differences
// between neighbouring cells, right and down, of the two. Differences,
// not the means themselves: a smooth photo correlates with itself shifted
// by a cell or two, its edges do not. Each side samples the pyramid level
// whose pixels match a third of a cell there, so a far target is compared
// at the scale it is seen at. Right poses score well above zero under
// blur, noise and uneven light; one that puts the target even a few cells
// off scores about zero. -1 where fewer than kAgreementMinCells cells (or
// fewer than a quarter of them) fall inside the frame in front of the
// camera; 0 where either side is flat. `target`'s level 0 is the target
// image (the plane's unit is its width); `frame`'s the camera image (focal
// length its width).
float poseAgreement(const Frame& target, const Frame& frame, const Mat44f& pose,
                    int32_t cellsAcross = kAgreementCellsAcross);

}  // namespace vornik
