#pragma once
#include <cstdint>

#include "common/image_io.h"

namespace vornik {

// Kinds of target-free scene the builder measures key frequencies on. Each
// stands for scenery that fills a camera frame with corners of one family:
// keys those corners give are common in the world and must not identify a
// target.
enum class NegativeSceneKind {
  kClutter,    // shapes, stripes and checkers
  kStarField,  // bright blobs of many sizes on a dark sky
  kPebbles,    // packed shaded stones
  kBricks,     // courses of bricks with mortar joints
  kStrokes,    // thin blades and short dark glyph strokes
  kFractal,    // smooth natural-looking shading (1/f noise) with hard edges
};
constexpr int kNegativeSceneKinds = 6;

// Deterministic grey scene of `width` x `height` pixels: the same kind, size
// and seed always give the same bytes. Empty for a non-positive size.
Image makeNegativeScene(NegativeSceneKind kind, int width, int height, uint32_t seed);

}  // namespace vornik
