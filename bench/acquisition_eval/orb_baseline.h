#pragma once
#include <array>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>

#include "common/image_io.h"

namespace vornik {

// The detector-matcher pipeline a user would write from the OpenCV
// tutorials, as the yardstick beside the library: ORB keypoints on the
// target and the frame, brute-force Hamming 2-nearest matching with the
// ratio test, a RANSAC homography per target, the target with the most
// inliers named.
constexpr int kOrbFeatures = 500;
constexpr float kOrbRatio = 0.8f;
constexpr double kOrbRansacPx = 3.0;
// Ratio matches a target needs before a homography is fitted to them.
constexpr int kOrbMinMatches = 8;
// RANSAC inliers the best target needs to be named.
constexpr int kOrbMinInliers = 10;

struct OrbTarget {
  std::string name;
  int width = 0;  // of the image the keypoints were found on
  int height = 0;
  std::vector<cv::KeyPoint> keypoints;
  cv::Mat descriptors;
};

struct OrbResult {
  int named = -1;   // index into the targets given, -1 when none
  int inliers = 0;  // of the best target, named or not
  // The named target's outer corners mapped by its homography (x0,y0 ..
  // x3,y3, top-left first).
  std::array<double, 8> corners{};
};

// One instance per thread: the detector and matcher keep working storage.
class OrbBaseline {
 public:
  OrbBaseline();
  // Keypoints and descriptors of a grey target image.
  OrbTarget describeTarget(const std::string& name, const Image& grey);
  // The frame (grey or BGR) against every target.
  OrbResult recognise(const Image& frame, const std::vector<const OrbTarget*>& targets);

 private:
  cv::Ptr<cv::ORB> orb_;
  cv::BFMatcher matcher_;
};

}  // namespace vornik
