// A capture plug-in for the camera tests: no device, no OpenCV. The source
// "frames:<count>:<width>x<height>" yields that many frames whose bytes are
// (frame index + byte offset) mod 256; any other source fails to open.
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "camera/capture_plugin_api.h"

namespace {

struct FakeCapture {
  int remaining = 0;
  int index = 0;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

}  // namespace

extern "C" {

VORNIK_CAPTURE_EXPORT void* vornikCaptureOpen(const char* source) {
  int count = 0;
  int width = 0;
  int height = 0;
  if (source == nullptr || std::sscanf(source, "frames:%d:%dx%d", &count, &width, &height) != 3 ||
      count < 0 || width <= 0 || height <= 0) {
    return nullptr;
  }
  FakeCapture* capture = new (std::nothrow) FakeCapture;
  if (capture == nullptr) return nullptr;
  capture->remaining = count;
  capture->width = width;
  capture->height = height;
  capture->pixels.resize(static_cast<size_t>(width) * height * 3);
  return capture;
}

VORNIK_CAPTURE_EXPORT int32_t vornikCaptureQueryFrame(void* handle, VornikCaptureFrame* frame) {
  FakeCapture* capture = static_cast<FakeCapture*>(handle);
  if (capture == nullptr || frame == nullptr || capture->remaining == 0) return 0;
  for (size_t i = 0; i < capture->pixels.size(); ++i) {
    capture->pixels[i] = static_cast<uint8_t>(capture->index + i);
  }
  --capture->remaining;
  ++capture->index;
  frame->channels = 3;
  frame->width = capture->width;
  frame->height = capture->height;
  frame->data = capture->pixels.data();
  return 1;
}

VORNIK_CAPTURE_EXPORT void vornikCaptureRelease(void* handle) {
  delete static_cast<FakeCapture*>(handle);
}

}  // extern "C"
