// A capture plug-in for the camera tests: no device, no OpenCV. The source
// "frames:<count>:<width>x<height>[x<channels>]" yields that many frames of 3
// (or the given number of) channels whose bytes are (frame index + byte
// offset) mod 256; any other source fails to open. Two extra functions let a
// test wait for the capture thread without sleeping.
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "camera/capture_plugin_api.h"

namespace {

struct FakeCapture {
  int remaining = 0;
  int index = 0;
  int width = 0;
  int height = 0;
  int channels = 3;
  std::vector<uint8_t> pixels;
};

std::mutex g_queryMutex;
std::condition_variable g_queried;
int64_t g_queries = 0;

}  // namespace

extern "C" {

VORNIK_CAPTURE_EXPORT void* vornikCaptureOpen(const char* source) {
  int count = 0;
  int width = 0;
  int height = 0;
  int channels = 3;
  if (source == nullptr) return nullptr;
  const int fields = std::sscanf(source, "frames:%d:%dx%dx%d", &count, &width, &height, &channels);
  if (fields < 3 || count < 0 || width <= 0 || height <= 0 || channels <= 0) return nullptr;
  FakeCapture* capture = new (std::nothrow) FakeCapture;
  if (capture == nullptr) return nullptr;
  capture->remaining = count;
  capture->width = width;
  capture->height = height;
  capture->channels = channels;
  capture->pixels.resize(static_cast<size_t>(width) * height * channels);
  return capture;
}

VORNIK_CAPTURE_EXPORT int32_t vornikCaptureQueryFrame(void* handle, VornikCaptureFrame* frame) {
  {
    std::lock_guard<std::mutex> lock(g_queryMutex);
    ++g_queries;
  }
  g_queried.notify_all();
  FakeCapture* capture = static_cast<FakeCapture*>(handle);
  if (capture == nullptr || frame == nullptr || capture->remaining == 0) return 0;
  for (size_t i = 0; i < capture->pixels.size(); ++i) {
    capture->pixels[i] = static_cast<uint8_t>(capture->index + i);
  }
  --capture->remaining;
  ++capture->index;
  frame->channels = capture->channels;
  frame->width = capture->width;
  frame->height = capture->height;
  frame->data = capture->pixels.data();
  return 1;
}

VORNIK_CAPTURE_EXPORT void vornikCaptureRelease(void* handle) {
  delete static_cast<FakeCapture*>(handle);
}

// Queries so far, over all captures.
VORNIK_CAPTURE_EXPORT int64_t fakeCaptureQueries() {
  std::lock_guard<std::mutex> lock(g_queryMutex);
  return g_queries;
}

// Returns once query number `count` has begun: the capture loop has then
// finished with every frame of the queries before it.
VORNIK_CAPTURE_EXPORT void fakeCaptureWaitForQueries(int64_t count) {
  std::unique_lock<std::mutex> lock(g_queryMutex);
  g_queried.wait(lock, [&] { return g_queries >= count; });
}

}  // extern "C"
