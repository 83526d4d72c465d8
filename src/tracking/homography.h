#pragma once
#include <cstdint>
#include <vector>

#include "features/feature.h"
#include "features/random.h"
#include "tracking/matrix.h"

namespace vornik {

// Robust fitting constants of the initial pose.
constexpr int kRansacSampleSize = 4;
constexpr int kRansacMinInliers = 17;
constexpr double kRansacThreshold = 0.01;  // squared normalised distance
constexpr int kRansacMaxIterations = 30;
// Opt-in rescue sampling after the 30 iterations have found no consensus:
// the share of the pairs a rescue sample needs as inliers (never fewer than
// the minimum inlier count), and the most rescue iterations a caller may ask.
constexpr double kRansacRescueShare = 0.3;
constexpr int kMaxRansacRescueIterations = 1000;

// One matched pair after normalisation: target x, y and frame x, y.
struct NormalizedPair {
  double tx = 0.0;
  double ty = 0.0;
  double fx = 0.0;
  double fy = 0.0;
};

// Means and population deviations of the four pair coordinates. A zero
// deviation (all values equal) is stored as 1 so that scaling stays finite.
struct NormalizationParams {
  double meanTx = 0.0;
  double meanTy = 0.0;
  double devTx = 1.0;
  double devTy = 1.0;
  double meanFx = 0.0;
  double meanFy = 0.0;
  double devFx = 1.0;
  double devFy = 1.0;
};

// Centres each coordinate of the pairs (flat vector: target feature, frame
// feature, ...) on its mean and scales it by scale / deviation, x and y
// independently.
std::vector<NormalizedPair> normalizePairs(const std::vector<FeaturePtr>& pairs, double scale,
                                           NormalizationParams* params);

// Direct linear fit of the homography mapping (tx, ty, 1) to (fx, fy, 1) from
// the listed pairs: right singular vector of the smallest singular value, not
// rescaled. Indices outside `pairs` are ignored.
MatrixPtr fitHomographyDlt(const std::vector<NormalizedPair>& pairs,
                           const std::vector<int32_t>& indices);

// RANSAC over minimal samples drawn from `random`, up to 30 iterations with an
// early exit at 90 % inliers; samples with fewer than half of the pairs as
// inliers never count. The best inlier set is refitted until it stops
// growing. Null when no sample qualified, when the final inlier count is
// below `minInliers`, or when there are fewer pairs than `sampleSize`.
// When no sample of the 30 qualified, up to `rescueIterations` more samples
// are drawn, and the first with kRansacRescueShare of the pairs (at least
// `minInliers`) as inliers is taken; the first 30 draws are the same either
// way, so a frame that finds its consensus there gives the same homography.
MatrixPtr ransacHomography(const std::vector<NormalizedPair>& pairs, int sampleSize, int minInliers,
                           double threshold, Random& random, int rescueIterations = 0);

// Number of pairs with squared transfer distance below `threshold` under h;
// their indices go to `inliers` when given.
int countInliers(const Matrix& h, const std::vector<NormalizedPair>& pairs, double threshold,
                 std::vector<int32_t>* inliers, double* errorSum);

// Homography between pixel coordinates from one between normalised ones.
MatrixPtr denormalizeHomography(const Matrix& h, const NormalizationParams& params, double scale);

// Pose [R | t; 0 0 0 1] of the target plane from the homography G of
// target-plane coordinates (X, Y, 1) to the pixels of a width x height camera
// with focal length = width and principal point at the centre. The rotation
// is not orthonormalised. Null for a non-positive camera size or a degenerate G.
MatrixPtr decomposeHomography(int32_t width, int32_t height, const Matrix& g);

}  // namespace vornik
