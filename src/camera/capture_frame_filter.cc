#include "camera/capture_frame_filter.h"

#include <cstddef>

namespace vornik {
namespace {

constexpr int32_t kBlueGreenRedChannels = 3;
constexpr int32_t kGreyChannels = 1;

}  // namespace

const uint8_t* CaptureFrameFilter::blueGreenRed(const VornikCaptureFrame& frame,
                                                int32_t* byteSize) {
  if (frame.channels != kBlueGreenRedChannels && frame.channels != kGreyChannels) {
    layoutLog_.log(
        "Camera: frame %dx%d with %d channels ignored: blue-green-red or grey expected\n",
        frame.width, frame.height, frame.channels);
    return nullptr;
  }
  const int64_t pixels = static_cast<int64_t>(frame.width) * frame.height;
  if (frame.data == nullptr || frame.width <= 0 || frame.height <= 0 ||
      pixels * kBlueGreenRedChannels > INT32_MAX) {
    unusableLog_.log("Camera: frame %dx%d without usable pixels ignored\n", frame.width,
                     frame.height);
    return nullptr;
  }
  *byteSize = static_cast<int32_t>(pixels * kBlueGreenRedChannels);
  if (frame.channels == kBlueGreenRedChannels) return frame.data;
  widened_.resize(static_cast<size_t>(*byteSize));
  uint8_t* out = widened_.data();
  for (int64_t i = 0; i < pixels; ++i) out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = frame.data[i];
  return out;
}

}  // namespace vornik
