#include "orb_baseline.h"

#include <opencv2/calib3d.hpp>

namespace vornik {
namespace {

// An 8-bit grey image as a matrix over its own pixels (no copy).
cv::Mat greyMat(const Image& grey) {
  return cv::Mat(grey.height, grey.width, CV_8UC1, const_cast<uint8_t*>(grey.pixels.data()));
}

}  // namespace

OrbBaseline::OrbBaseline() : orb_(cv::ORB::create(kOrbFeatures)), matcher_(cv::NORM_HAMMING) {}

OrbTarget OrbBaseline::describeTarget(const std::string& name, const Image& image) {
  const Image grey = toGray(image);
  OrbTarget target;
  target.name = name;
  target.width = grey.width;
  target.height = grey.height;
  orb_->detectAndCompute(greyMat(grey), cv::noArray(), target.keypoints, target.descriptors);
  return target;
}

OrbResult OrbBaseline::recognise(const Image& frame, const std::vector<const OrbTarget*>& targets) {
  OrbResult result;
  const Image grey = toGray(frame);
  std::vector<cv::KeyPoint> keypoints;
  cv::Mat descriptors;
  orb_->detectAndCompute(greyMat(grey), cv::noArray(), keypoints, descriptors);
  if (descriptors.rows < 2) return result;

  cv::Mat bestHomography;
  int bestInliers = 0;
  int best = -1;
  for (size_t t = 0; t < targets.size(); ++t) {
    const OrbTarget& target = *targets[t];
    if (target.descriptors.rows == 0) continue;
    std::vector<std::vector<cv::DMatch>> pairs;
    matcher_.knnMatch(target.descriptors, descriptors, pairs, 2);
    std::vector<cv::Point2f> from, to;
    for (const std::vector<cv::DMatch>& pair : pairs) {
      if (pair.size() < 2 || pair[0].distance >= kOrbRatio * pair[1].distance) continue;
      from.push_back(target.keypoints[pair[0].queryIdx].pt);
      to.push_back(keypoints[pair[0].trainIdx].pt);
    }
    if (static_cast<int>(from.size()) < kOrbMinMatches) continue;
    cv::Mat mask;
    const cv::Mat homography = cv::findHomography(from, to, cv::RANSAC, kOrbRansacPx, mask);
    if (homography.empty()) continue;
    const int inliers = cv::countNonZero(mask);
    if (inliers > bestInliers) {
      bestInliers = inliers;
      best = static_cast<int>(t);
      bestHomography = homography;
    }
  }
  result.inliers = bestInliers;
  if (best < 0 || bestInliers < kOrbMinInliers) return result;
  result.named = best;
  const OrbTarget& target = *targets[best];
  const std::vector<cv::Point2f> outline = {{-0.5f, -0.5f},
                                            {target.width - 0.5f, -0.5f},
                                            {target.width - 0.5f, target.height - 0.5f},
                                            {-0.5f, target.height - 0.5f}};
  std::vector<cv::Point2f> mapped;
  cv::perspectiveTransform(outline, mapped, bestHomography);
  for (int i = 0; i < 4; ++i) {
    result.corners[2 * i] = mapped[i].x;
    result.corners[2 * i + 1] = mapped[i].y;
  }
  return result;
}

}  // namespace vornik
