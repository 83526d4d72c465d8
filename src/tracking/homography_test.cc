#include "tracking/homography.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace vornik {
namespace {

const double kS = std::sqrt(2.0);

// Target pixels (from the image centre, y up) to frame pixels.
Matrix knownHomography() {
  Matrix h(3, 3);
  const double v[9] = {0.8, 0.12, 320.0, -0.05, -0.7, 240.0, 1e-4, -2e-4, 1.0};
  for (int i = 0; i < 9; ++i) h(i / 3, i % 3) = v[i];
  return h;
}

void apply(const Matrix& h, double x, double y, double* u, double* v) {
  const double z = h(2, 0) * x + h(2, 1) * y + h(2, 2);
  *u = (h(0, 0) * x + h(0, 1) * y + h(0, 2)) / z;
  *v = (h(1, 0) * x + h(1, 1) * y + h(1, 2)) / z;
}

FeaturePtr at(int32_t x, int32_t y) {
  auto f = std::make_shared<Feature>();
  f->x = x;
  f->y = y;
  return f;
}

// Normalised pairs straight from double positions (no integer rounding).
std::vector<NormalizedPair> exactPairs(const Matrix& h, int inliers, int outliers, Random& rng,
                                       NormalizationParams* params) {
  std::vector<NormalizedPair> raw;
  for (int i = 0; i < inliers + outliers; ++i) {
    NormalizedPair p;
    p.tx = static_cast<double>(rng.uniform(400)) - 200.0;
    p.ty = static_cast<double>(rng.uniform(300)) - 150.0;
    if (i < inliers) {
      apply(h, p.tx, p.ty, &p.fx, &p.fy);
    } else {
      // Far enough from the model that no threshold could take it in.
      double u, v;
      apply(h, p.tx, p.ty, &u, &v);
      do {
        p.fx = rng.uniform(640);
        p.fy = rng.uniform(480);
      } while (std::hypot(p.fx - u, p.fy - v) < 60.0);
    }
    raw.push_back(p);
  }
  // Interleave outliers among inliers.
  for (size_t i = raw.size(); i > 1; --i) std::swap(raw[i - 1], raw[rng.uniform(i)]);
  // Same normalisation as normalizePairs, on doubles.
  NormalizationParams p;
  double n = static_cast<double>(raw.size());
  for (const auto& q : raw) {
    p.meanTx += q.tx / n;
    p.meanTy += q.ty / n;
    p.meanFx += q.fx / n;
    p.meanFy += q.fy / n;
  }
  double s[4] = {};
  for (const auto& q : raw) {
    s[0] += (q.tx - p.meanTx) * (q.tx - p.meanTx);
    s[1] += (q.ty - p.meanTy) * (q.ty - p.meanTy);
    s[2] += (q.fx - p.meanFx) * (q.fx - p.meanFx);
    s[3] += (q.fy - p.meanFy) * (q.fy - p.meanFy);
  }
  p.devTx = std::sqrt(s[0] / n);
  p.devTy = std::sqrt(s[1] / n);
  p.devFx = std::sqrt(s[2] / n);
  p.devFy = std::sqrt(s[3] / n);
  for (auto& q : raw) {
    q.tx = (q.tx - p.meanTx) / p.devTx * kS;
    q.ty = (q.ty - p.meanTy) / p.devTy * kS;
    q.fx = (q.fx - p.meanFx) / p.devFx * kS;
    q.fy = (q.fy - p.meanFy) / p.devFy * kS;
  }
  *params = p;
  return raw;
}

// Maximum frame-pixel transfer difference of two homographies over the target.
double transferDifference(const Matrix& a, const Matrix& b) {
  double worst = 0.0;
  for (double x = -200; x <= 200; x += 50) {
    for (double y = -150; y <= 150; y += 50) {
      double u1, v1, u2, v2;
      apply(a, x, y, &u1, &v1);
      apply(b, x, y, &u2, &v2);
      worst = std::max(worst, std::hypot(u1 - u2, v1 - v2));
    }
  }
  return worst;
}

// Calls the RANSAC draw the way the estimator does; returns draws consumed.
int drawSample(Random& rng, int n) {
  std::vector<uint32_t> held;
  int draws = 0;
  while (held.size() < 4) {
    const uint32_t idx = rng.uniform(n);
    ++draws;
    if (std::find(held.begin(), held.end(), idx) == held.end()) held.push_back(idx);
  }
  return draws;
}

TEST(HomographyTest, NormalizePairsPinned) {
  const std::vector<FeaturePtr> pairs = {at(0, 0), at(10, 5), at(2, 4), at(30, 5)};
  NormalizationParams p;
  const auto out = normalizePairs(pairs, kS, &p);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_DOUBLE_EQ(p.meanTx, 1.0);
  EXPECT_DOUBLE_EQ(p.meanTy, 2.0);
  EXPECT_DOUBLE_EQ(p.devTx, 1.0);
  EXPECT_DOUBLE_EQ(p.devTy, 2.0);
  EXPECT_DOUBLE_EQ(p.meanFx, 20.0);
  EXPECT_DOUBLE_EQ(p.meanFy, 5.0);
  EXPECT_DOUBLE_EQ(p.devFx, 10.0);
  // All frame y equal: the zero deviation is replaced by 1 to stay finite.
  EXPECT_DOUBLE_EQ(p.devFy, 1.0);
  EXPECT_DOUBLE_EQ(out[0].tx, -kS);
  EXPECT_DOUBLE_EQ(out[0].ty, -kS);
  EXPECT_DOUBLE_EQ(out[0].fx, -kS);
  EXPECT_DOUBLE_EQ(out[0].fy, 0.0);
  EXPECT_DOUBLE_EQ(out[1].tx, kS);
  EXPECT_DOUBLE_EQ(out[1].fx, kS);
  EXPECT_TRUE(normalizePairs({}, kS, &p).empty());
}

TEST(HomographyTest, DltRecoversKnownHomographyFrom4And50ExactPairs) {
  const Matrix h0 = knownHomography();
  for (int n : {4, 50}) {
    Random rng(n);
    NormalizationParams params;
    const auto pairs = exactPairs(h0, n, 0, rng, &params);
    std::vector<int32_t> all;
    for (int i = 0; i < n; ++i) all.push_back(i);
    const MatrixPtr h = fitHomographyDlt(pairs, all);
    ASSERT_TRUE(h);
    // The null vector is unit length (not rescaled).
    double norm2 = 0.0;
    for (int i = 0; i < 9; ++i) norm2 += (*h)(i / 3, i % 3) * (*h)(i / 3, i % 3);
    EXPECT_NEAR(norm2, 1.0, 1e-12);
    const MatrixPtr hp = denormalizeHomography(*h, params, kS);
    ASSERT_TRUE(hp);
    EXPECT_LT(transferDifference(*hp, h0), 1e-8) << n;
    EXPECT_EQ(countInliers(*h, pairs, 1e-12, nullptr, nullptr), n);
  }
}

TEST(HomographyTest, InlierTestIsStrictAtThreshold) {
  const auto identity = Matrix::identity(3);
  // 0.06^2 + 0.08^2 is exactly the double 0.01.
  const std::vector<NormalizedPair> pairs = {{0.06, 0.08, 0.0, 0.0}, {0.06, 0.0799, 0.0, 0.0}};
  std::vector<int32_t> inliers;
  double sum = 0.0;
  EXPECT_EQ(countInliers(*identity, pairs, kRansacThreshold, &inliers, &sum), 1);
  ASSERT_EQ(inliers.size(), 1u);
  EXPECT_EQ(inliers[0], 1);
  EXPECT_DOUBLE_EQ(sum, 0.06 * 0.06 + 0.0799 * 0.0799);
  EXPECT_EQ(kRansacThreshold, 0.01);
}

TEST(HomographyTest, RansacRecoversHomographyWith40PercentOutliers) {
  // With 30 samples of 4 and 60 % inliers a run misses every clean sample
  // with probability (1 - 0.126)^30, about 2 %; count over many seeds.
  const Matrix h0 = knownHomography();
  int found = 0;
  constexpr int kRuns = 100;
  for (uint32_t seed = 1; seed <= kRuns; ++seed) {
    Random data(1000 + seed);
    NormalizationParams params;
    const auto pairs = exactPairs(h0, 60, 40, data, &params);
    Random rng(seed);
    const MatrixPtr h =
        ransacHomography(pairs, kRansacSampleSize, kRansacMinInliers, kRansacThreshold, rng);
    if (!h) continue;
    ++found;
    EXPECT_EQ(countInliers(*h, pairs, kRansacThreshold, nullptr, nullptr), 60);
    EXPECT_LT(transferDifference(*denormalizeHomography(*h, params, kS), h0), 1e-6) << seed;
  }
  EXPECT_GE(found, kRuns * 95 / 100);
}

TEST(HomographyTest, RansacNeedsSeventeenFinalInliers) {
  const Matrix h0 = knownHomography();
  {
    Random data(5);
    NormalizationParams params;
    const auto pairs = exactPairs(h0, 17, 3, data, &params);
    Random rng(9);
    EXPECT_TRUE(ransacHomography(pairs, 4, 17, kRansacThreshold, rng));
  }
  {
    Random data(5);
    NormalizationParams params;
    const auto pairs = exactPairs(h0, 16, 4, data, &params);
    Random rng(9);
    EXPECT_FALSE(ransacHomography(pairs, 4, 17, kRansacThreshold, rng));
  }
}

TEST(HomographyTest, RansacIgnoresSamplesBelowHalfInliers) {
  // 45 consistent pairs of 100 would pass the minimum of 17, but never half.
  Random data(6);
  NormalizationParams params;
  const auto pairs = exactPairs(knownHomography(), 45, 55, data, &params);
  Random rng(2);
  EXPECT_FALSE(ransacHomography(pairs, 4, 17, kRansacThreshold, rng));
}

TEST(HomographyTest, RansacStopsEarlyAtNinetyPercentAndAfterThirtyIterations) {
  const Matrix h0 = knownHomography();
  for (int inliers : {100, 85}) {
    Random data(8);
    NormalizationParams params;
    const auto pairs = exactPairs(h0, inliers, 100 - inliers, data, &params);
    Random rng(31);
    ASSERT_TRUE(ransacHomography(pairs, 4, 17, kRansacThreshold, rng));
    // All consistent: the first sample ends the loop. 85 %: all 30 iterations run.
    Random replay(31);
    const int iterations = inliers == 100 ? 1 : kRansacMaxIterations;
    for (int i = 0; i < iterations; ++i) drawSample(replay, 100);
    EXPECT_EQ(rng.next(), replay.next()) << inliers;
  }
}

TEST(HomographyTest, RansacRejectsTooFewPairs) {
  const std::vector<NormalizedPair> pairs(3);
  Random rng;
  EXPECT_FALSE(ransacHomography(pairs, 4, 17, kRansacThreshold, rng));
  EXPECT_FALSE(ransacHomography({}, 4, 17, kRansacThreshold, rng));
}

// G = scale K [r1 r2 t] for focal length w and principal point at the centre.
Matrix homographyOfPose(const double r[3][3], const double t[3], int w, int h, double scale) {
  Matrix g(3, 3);
  const double k[3][3] = {{double(w), 0, w / 2.0}, {0, double(w), h / 2.0}, {0, 0, 1}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int l = 0; l < 3; ++l) sum += k[i][l] * (j < 2 ? r[l][j] : t[l]);
      g(i, j) = scale * sum;
    }
  }
  return g;
}

TEST(HomographyTest, DecompositionGivesBackTheMakingPose) {
  // Rotation of 0.5 rad about (1, 2, -1)/sqrt 6, then 0.3 m off-centre at depth 2.5.
  const double ax[3] = {1 / std::sqrt(6.0), 2 / std::sqrt(6.0), -1 / std::sqrt(6.0)};
  const double c = std::cos(0.5), s = std::sin(0.5);
  double r[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = (1 - c) * ax[i] * ax[j] + (i == j ? c : 0.0);
  r[0][1] -= s * ax[2];
  r[1][0] += s * ax[2];
  r[0][2] += s * ax[1];
  r[2][0] -= s * ax[1];
  r[1][2] -= s * ax[0];
  r[2][1] += s * ax[0];
  const double t[3] = {0.3, -0.2, 2.5};
  for (double scale : {1.0, -3.7, 1e-3}) {
    const MatrixPtr pose = decomposeHomography(640, 480, homographyOfPose(r, t, 640, 480, scale));
    ASSERT_TRUE(pose);
    for (int i = 0; i < 3; ++i) {
      // 1/640 is rounded to float in the inverse intrinsics.
      for (int j = 0; j < 3; ++j) EXPECT_NEAR((*pose)(i, j), r[i][j], 1e-7) << i << j;
      EXPECT_NEAR((*pose)(i, 3), t[i], 1e-7) << i;
      EXPECT_EQ((*pose)(3, i), 0.0);
    }
    EXPECT_EQ((*pose)(3, 3), 1.0);
  }
}

TEST(HomographyTest, FrontalTargetAndNonRigidColumns) {
  // Seen frontally in the image centre: image y runs against target Y. A
  // 512 x 384 camera keeps the float inverse intrinsics exact.
  const double r[3][3] = {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
  const double t[3] = {0.0, 0.0, 2.0};
  MatrixPtr pose = decomposeHomography(512, 384, homographyOfPose(r, t, 512, 384, 5.0));
  ASSERT_TRUE(pose);
  const double expected[12] = {1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 2};
  for (int i = 0; i < 12; ++i) EXPECT_NEAR((*pose)(i / 4, i % 4), expected[i], 1e-15);

  // Columns of different lengths are normalised separately; the translation
  // is divided by the geometric mean of the two lengths.
  Matrix g = homographyOfPose(r, t, 512, 384, 1.0);
  for (int i = 0; i < 3; ++i) g(i, 0) *= 4.0;
  pose = decomposeHomography(512, 384, g);
  ASSERT_TRUE(pose);
  EXPECT_NEAR((*pose)(0, 0), 1.0, 1e-15);
  EXPECT_NEAR((*pose)(2, 3), 1.0, 1e-15);
}

TEST(HomographyTest, DecompositionRejectsDegenerateInput) {
  EXPECT_FALSE(decomposeHomography(640, 480, Matrix(3, 3)));
  EXPECT_FALSE(decomposeHomography(0, 480, *Matrix::identity(3)));
  EXPECT_FALSE(decomposeHomography(640, 480, *Matrix::identity(4)));
}

}  // namespace
}  // namespace vornik
