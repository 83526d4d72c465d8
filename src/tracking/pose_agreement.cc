#include "tracking/pose_agreement.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "features/pyramid_coordinates.h"
#include "tracking/patch_search.h"

namespace vornik {

namespace {

// Sub-samples per cell along each axis: their mean stands for the cell's.
constexpr int32_t kSubSamples = 3;

// Bilinear value at level pixel (x, y); false outside the pixel centres.
bool sampleLevel(const GrayImage& image, float x, float y, float* value) {
  if (!(x >= 0.0f && y >= 0.0f && x <= image.width - 1 && y <= image.height - 1)) return false;
  const int32_t x0 = std::min(static_cast<int32_t>(x), image.width - 2 < 0 ? 0 : image.width - 2);
  const int32_t y0 = std::min(static_cast<int32_t>(y), image.height - 2 < 0 ? 0 : image.height - 2);
  const int32_t x1 = std::min(x0 + 1, image.width - 1);
  const int32_t y1 = std::min(y0 + 1, image.height - 1);
  const float fx = x - static_cast<float>(x0);
  const float fy = y - static_cast<float>(y0);
  const float top = image.at(x0, y0) + fx * (image.at(x1, y0) - image.at(x0, y0));
  const float bottom = image.at(x0, y1) + fx * (image.at(x1, y1) - image.at(x0, y1));
  *value = top + fy * (bottom - top);
  return true;
}

// Coarsest level of `frame` whose pixel is no larger than `size` level-0
// pixels.
int32_t levelForSize(const Frame& frame, float size) {
  int32_t level = 0;
  while (level + 1 < frame.levelCount() && levelScale(level + 1) <= size) ++level;
  return level;
}

}  // namespace

float poseAgreement(const Frame& target, const Frame& frame, const Mat44f& pose,
                    int32_t cellsAcross) {
  const GrayImage* target0 = target.getLevel(0);
  const GrayImage* frame0 = frame.getLevel(0);
  if (target0 == nullptr || frame0 == nullptr || cellsAcross < 2) return -1.0f;
  const int32_t tw = target0->width;
  const int32_t th = target0->height;
  const int32_t fw = frame0->width;
  const int32_t fh = frame0->height;
  const float cell = static_cast<float>(tw) / static_cast<float>(cellsAcross);
  const int32_t cellsDown = std::max(1, static_cast<int32_t>(std::lround(th / cell)));
  const float cellHeight = static_cast<float>(th) / static_cast<float>(cellsDown);
  const float sub = 1.0f / kSubSamples;
  const int32_t targetLevel = levelForSize(target, std::min(cell, cellHeight) * sub);
  const GrayImage& targetImage = *target.getLevel(targetLevel);

  const int32_t cellCount = cellsAcross * cellsDown;
  std::vector<float> targetGrid(cellCount, 0.0f);
  std::vector<float> frameGrid(cellCount, 0.0f);
  std::vector<uint8_t> valid(cellCount, 0);
  std::vector<float> targetSteps;
  std::vector<float> frameSteps;
  targetSteps.reserve(2 * cellCount);
  frameSteps.reserve(2 * cellCount);
  const auto toPlane = [tw, th](float x, float y, float* X, float* Y) {
    *X = levelToUnit(x, 0, tw, tw);
    *Y = -levelToUnit(y, 0, th, tw);
  };
  for (int32_t row = 0; row < cellsDown; ++row) {
    for (int32_t col = 0; col < cellsAcross; ++col) {
      // The cell's extent in target pixels (pixel centres at integers).
      const float left = col * cell - 0.5f;
      const float top = row * cellHeight - 0.5f;
      // How large the cell's sub-sample looks in the frame: the level to
      // sample there.
      float X0, Y0, X1, Y1, X2, Y2;
      toPlane(left + 0.5f * cell, top + 0.5f * cellHeight, &X0, &Y0);
      toPlane(left + 0.5f * cell + cell, top + 0.5f * cellHeight, &X1, &Y1);
      toPlane(left + 0.5f * cell, top + 0.5f * cellHeight + cellHeight, &X2, &Y2);
      float camera[3], normalized[2], p0[2], p1[2], p2[2];
      projectPlanePoint(pose, X0, Y0, fw, fh, 0, camera, normalized, p0);
      if (!(camera[2] > 0.0f)) continue;
      projectPlanePoint(pose, X1, Y1, fw, fh, 0, camera, normalized, p1);
      if (!(camera[2] > 0.0f)) continue;
      projectPlanePoint(pose, X2, Y2, fw, fh, 0, camera, normalized, p2);
      if (!(camera[2] > 0.0f)) continue;
      const float area =
          std::fabs((p1[0] - p0[0]) * (p2[1] - p0[1]) - (p2[0] - p0[0]) * (p1[1] - p0[1]));
      if (!std::isfinite(area)) continue;
      const int32_t frameLevel = levelForSize(frame, std::sqrt(area) * sub);
      const GrayImage& frameImage = *frame.getLevel(frameLevel);

      float targetSum = 0.0f;
      float frameSum = 0.0f;
      bool inside = true;
      for (int32_t j = 0; j < kSubSamples && inside; ++j) {
        for (int32_t i = 0; i < kSubSamples && inside; ++i) {
          const float x = left + (i + 0.5f) * sub * cell;
          const float y = top + (j + 0.5f) * sub * cellHeight;
          float value = 0.0f;
          inside =
              sampleLevel(targetImage, toLevel(x, targetLevel), toLevel(y, targetLevel), &value);
          targetSum += value;
          float X, Y, pixel[2];
          toPlane(x, y, &X, &Y);
          projectPlanePoint(pose, X, Y, fw, fh, frameLevel, camera, normalized, pixel);
          inside =
              inside && camera[2] > 0.0f && sampleLevel(frameImage, pixel[0], pixel[1], &value);
          frameSum += value;
        }
      }
      if (!inside) continue;
      const int32_t k = row * cellsAcross + col;
      valid[k] = 1;
      targetGrid[k] = targetSum;
      frameGrid[k] = frameSum;
    }
  }
  int32_t validCount = 0;
  for (int32_t k = 0; k < cellCount; ++k) validCount += valid[k];
  if (validCount < kAgreementMinCells || 4 * validCount < cellCount) return -1.0f;
  for (int32_t row = 0; row < cellsDown; ++row) {
    for (int32_t col = 0; col < cellsAcross; ++col) {
      const int32_t k = row * cellsAcross + col;
      if (!valid[k]) continue;
      if (col + 1 < cellsAcross && valid[k + 1]) {
        targetSteps.push_back(targetGrid[k + 1] - targetGrid[k]);
        frameSteps.push_back(frameGrid[k + 1] - frameGrid[k]);
      }
      if (row + 1 < cellsDown && valid[k + cellsAcross]) {
        targetSteps.push_back(targetGrid[k + cellsAcross] - targetGrid[k]);
        frameSteps.push_back(frameGrid[k + cellsAcross] - frameGrid[k]);
      }
    }
  }

  const int32_t n = static_cast<int32_t>(targetSteps.size());
  if (n < kAgreementMinCells) return -1.0f;
  double meanT = 0.0, meanF = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    meanT += targetSteps[i];
    meanF += frameSteps[i];
  }
  meanT /= n;
  meanF /= n;
  double stt = 0.0, sff = 0.0, stf = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double dt = targetSteps[i] - meanT;
    const double df = frameSteps[i] - meanF;
    stt += dt * dt;
    sff += df * df;
    stf += dt * df;
  }
  // A flat side (steps of a third of a grey level or less) says nothing.
  const double flat = 1.0 * n * kSubSamples * kSubSamples;
  if (stt < flat || sff < flat) return 0.0f;
  return static_cast<float>(stf / std::sqrt(stt * sff));
}

}  // namespace vornik
