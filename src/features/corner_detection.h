#pragma once
#include <cstdint>

#include "features/frame.h"
#include "features/hessian_gradient_feature_mngr.h"

namespace vornik {

constexpr int32_t kRecognitionCornerBudget = 200;
constexpr int32_t kRecognitionFastThreshold = 12;
// Recognition features keep this distance from every border so the
// descriptor's samples and gradients stay inside the level.
constexpr int32_t kRecognitionBorder = 16;
constexpr int32_t kTrackingFastThreshold = 13;
constexpr int32_t kTrackingCornerTarget = 150;

// Share of the corner budget (200 as described) for `level` in a pyramid of
// `levelCount` levels: (L - level) * budget / (L (L + 1) / 2) with
// L = levelCount - 1; 0 for the coarsest level and for levels outside the
// pyramid.
int32_t recognitionQuota(int32_t levelCount, int32_t level,
                         int32_t budget = kRecognitionCornerBudget);

// Strongest FAST corners of every level but the coarsest, within each level's
// quota, appended to the manager as features of that level (position, level,
// scale, polarity). False only for a null manager.
bool detectRecognitionCorners(const Frame& frame, HessianGradientFeatureMngr* features,
                              int32_t budget = kRecognitionCornerBudget);

// Corners of the level whose width lies in (200, 400], spread over the
// 5 x 4 grid, into frame->corners (with target-plane coordinates). False when
// the frame has no such level or is null.
bool detectTrackingCorners(Frame* frame);

}  // namespace vornik
