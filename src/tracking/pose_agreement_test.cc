#include "tracking/pose_agreement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "tracking/se3.h"
#include "tracking/test_images.h"

namespace vornik {
namespace {

using testing_images::loadGrayJpeg;
using testing_images::renderPlane;
using testing_images::viewPose;

// A target photo drawn into a camera frame under `truth`, judged under
// `query`: right poses agree through scale, tilt and a change of light;
// poses that put the target elsewhere do not.
TEST(PoseAgreement, RightPosesAgreeAndMisplacedOnesDoNot) {
  const auto photo = loadGrayJpeg(std::string(VORNIK_DATA_DIR) + "/photos/rocket.jpg");
  ASSERT_TRUE(photo);
  Frame target;
  target.buildPyramid(
      std::make_unique<GrayImage>(photo->width, photo->height, photo->pixels.get()));
  const Mat44f frontal = viewPose({0.05f, -0.04f, 0.1f}, {0.02f, 0.01f, 2.0f});
  const Mat44f far = viewPose({0.0f, 0.1f, -0.3f}, {-0.3f, 0.2f, 8.0f});
  const Mat44f steep = viewPose({0.96f, 0.0f, 0.2f}, {0.0f, 0.05f, 2.2f});
  Mat44f shifted = frontal;
  shifted(0, 3) += 0.3f;
  Mat44f nudged = frontal;  // 16 px: two cells
  nudged(0, 3) += 0.05f;
  const Mat44f turned = viewPose({0.05f, -0.04f, 1.67f}, {0.02f, 0.01f, 2.0f});
  const Mat44f outside = viewPose({0.0f, 0.0f, 0.0f}, {3.0f, 0.0f, 2.0f});
  Mat44f behind = frontal;
  behind(2, 3) = -2.0f;
  struct Case {
    const char* name;
    Mat44f truth;
    Mat44f query;
    float gain;  // frame brightness scale (plus 30 grey levels when not 1)
    float low;
    float high;
  };
  const Case cases[] = {
      {"frontal", frontal, frontal, 1.0f, 0.9f, 1.0f},
      {"frontal, dimmer and lifted", frontal, frontal, 0.6f, 0.9f, 1.0f},
      {"far, an eighth of the width", far, far, 1.0f, 0.9f, 1.0f},
      {"tilted 55 degrees", steep, steep, 1.0f, 0.9f, 1.0f},
      {"shifted by 0.3 target widths", frontal, shifted, 1.0f, -0.3f, 0.3f},
      {"shifted by 0.05 target widths", frontal, nudged, 1.0f, -0.3f, 0.3f},
      {"turned a quarter", frontal, turned, 1.0f, -0.3f, 0.3f},
      {"out of the frame", frontal, outside, 1.0f, -1.0f, -1.0f},
      {"behind the camera", frontal, behind, 1.0f, -1.0f, -1.0f},
  };
  for (const Case& c : cases) {
    std::unique_ptr<GrayImage> image = renderPlane(*photo, c.truth, 640, 480);
    if (c.gain != 1.0f) {
      for (int32_t i = 0; i < 640 * 480; ++i) {
        image->pixels[i] = static_cast<uint8_t>(std::lround(c.gain * image->pixels[i] + 30.0f));
      }
    }
    Frame frame;
    frame.buildPyramid(std::move(image));
    const float agreement = poseAgreement(target, frame, c.query);
    EXPECT_GE(agreement, c.low) << c.name;
    EXPECT_LE(agreement, c.high) << c.name;
  }
}

TEST(PoseAgreement, AFlatTargetSaysNothing) {
  Frame target;
  target.buildPyramid(std::make_unique<GrayImage>(320, 240));
  const Mat44f pose = viewPose({0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 2.0f});
  Frame frame;
  frame.buildPyramid(testing_images::makeTexture(640, 480, 7));
  EXPECT_EQ(poseAgreement(target, frame, pose), 0.0f);
}

}  // namespace
}  // namespace vornik
