// A capture plug-in for the camera tests: no device, no OpenCV. The source
// "frames:<count>:<width>x<height>[x<channels>]" yields that many frames of 3
// (or the given number of) channels whose bytes are (frame index + byte
// offset) mod 256; any other source fails to open. Two extra functions let a
// test wait for the capture thread without sleeping.
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <utility>
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
  FakeCapture c;
  const int fields = source == nullptr ? 0
                                       : std::sscanf(source, "frames:%d:%dx%dx%d", &c.remaining,
                                                     &c.width, &c.height, &c.channels);
  if (fields < 3 || c.remaining < 0 || c.width <= 0 || c.height <= 0 || c.channels <= 0) {
    return nullptr;
  }
  c.pixels.resize(static_cast<size_t>(c.width) * c.height * c.channels);
  return new (std::nothrow) FakeCapture(std::move(c));
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
