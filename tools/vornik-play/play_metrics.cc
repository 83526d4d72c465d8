#include "play_metrics.h"

#include <algorithm>
#include <cmath>

namespace vornik {

bool projectWithResultPose(const float pose[16], int targetWidth, int targetHeight, int frameWidth,
                           int frameHeight, double x, double y, double z, double* u, double* v) {
  // Target plane: origin at the integer centre, Y up, Z out of the face.
  const double X = x - (targetWidth / 2);
  const double Y = (targetHeight / 2) - y;
  const double Z = z;
  const double xc = pose[0] * X + pose[4] * Y + pose[8] * Z + pose[12];
  const double yc = pose[1] * X + pose[5] * Y + pose[9] * Z + pose[13];
  const double zc = pose[2] * X + pose[6] * Y + pose[10] * Z + pose[14];
  if (!(zc > 1e-9)) return false;
  const double focal = frameWidth;
  *u = focal * xc / zc + (frameWidth >> 1);
  *v = focal * yc / zc + (frameHeight >> 1);
  return std::isfinite(*u) && std::isfinite(*v);
}

bool projectTargetCorners(const float pose[16], int targetWidth, int targetHeight, int frameWidth,
                          int frameHeight, std::array<double, 8>* corners) {
  const double right = targetWidth - 0.5;
  const double bottom = targetHeight - 0.5;
  const double points[4][2] = {{-0.5, -0.5}, {right, -0.5}, {right, bottom}, {-0.5, bottom}};
  for (int i = 0; i < 4; ++i) {
    if (!projectWithResultPose(pose, targetWidth, targetHeight, frameWidth, frameHeight,
                               points[i][0], points[i][1], 0.0, &(*corners)[2 * i],
                               &(*corners)[2 * i + 1])) {
      return false;
    }
  }
  return true;
}

double cornerError(const std::array<double, 8>& a, const std::array<double, 8>& b) {
  double worst = 0.0;
  for (int i = 0; i < 4; ++i) {
    worst = std::max(worst, std::hypot(a[2 * i] - b[2 * i], a[2 * i + 1] - b[2 * i + 1]));
  }
  return worst;
}

EvaluationSummary summarise(const std::vector<FrameEvaluation>& frames) {
  EvaluationSummary s;
  s.frames = static_cast<int>(frames.size());
  double errorSum = 0.0;
  int leftAt = -1;
  bool seenInView = false;
  for (int i = 0; i < s.frames; ++i) {
    const FrameEvaluation& f = frames[i];
    if (!f.inView) {
      if (seenInView && leftAt < 0) leftAt = i;
      continue;
    }
    seenInView = true;
    if (leftAt >= 0 && s.returnFrame < 0) s.returnFrame = i;
    ++s.inViewFrames;
    if (!f.posed) continue;
    ++s.posedInView;
    errorSum += f.error;
    if (f.error <= kGoodCornerErrorPx) {
      ++s.withinGood;
      if (s.returnFrame >= 0 && s.reacquireFrames < 0) s.reacquireFrames = i - s.returnFrame;
    }
  }
  if (s.returnFrame >= 0 && s.reacquireFrames < 0) s.reacquireFrames = -2;
  if (s.inViewFrames > 0) s.shareWithinGood = static_cast<double>(s.withinGood) / s.inViewFrames;
  if (s.posedInView > 0) s.meanError = errorSum / s.posedInView;

  s.staticView = s.frames > 1;
  for (const FrameEvaluation& f : frames) {
    for (int k = 0; k < 16 && s.staticView; ++k) {
      if (std::abs(f.truthPose[k] - frames[0].truthPose[k]) > 1e-12) s.staticView = false;
    }
  }
  if (s.staticView) {
    std::vector<const FrameEvaluation*> posed;
    for (const FrameEvaluation& f : frames) {
      if (f.posed) posed.push_back(&f);
    }
    if (posed.size() > 1) {
      double jitter = 0.0;
      for (int k = 0; k < 8; ++k) {
        double mean = 0.0;
        for (const FrameEvaluation* f : posed) mean += f->corners[k];
        mean /= posed.size();
        double variance = 0.0;
        for (const FrameEvaluation* f : posed) {
          variance += (f->corners[k] - mean) * (f->corners[k] - mean);
        }
        jitter += std::sqrt(variance / posed.size());
      }
      s.jitterPx = jitter / 8.0;
    }
  }
  return s;
}

}  // namespace vornik
