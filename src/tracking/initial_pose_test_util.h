#pragma once
// Test and benchmark helpers: a known camera-from-target pose and a frame
// rendered from a target image under it, with the pinhole model of the
// tracker (focal length = frame width, principal point at the centre).
#include <cstdint>
#include <vector>

#include "features/gray_image.h"
#include "tracking/se3.h"
#include "tracking/test_images.h"

namespace vornik {
namespace test_scene {

constexpr int32_t kCamW = 640;
constexpr int32_t kCamH = 480;

// Camera from target plane (units of the target width).
inline Mat44f makePose(float rx, float ry, float rz, float tx, float ty, float tz) {
  return Mat44f::rigid(so3Exp(Vector3F(rx, ry, rz)), Vector3F(tx, ty, tz));
}

// The w x h grey target in a kCamW x kCamH grey frame under `pose`.
inline std::vector<uint8_t> renderFrame(const std::vector<uint8_t>& target, int32_t w, int32_t h,
                                        const Mat44f& pose) {
  const auto frame =
      testing_images::renderPlane(GrayImage(w, h, target.data()), pose, kCamW, kCamH, 128);
  return std::vector<uint8_t>(frame->pixels.get(), frame->pixels.get() + kCamW * kCamH);
}

}  // namespace test_scene
}  // namespace vornik
