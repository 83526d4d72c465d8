// Stand-in for opencv_highgui2410.dll in the Windows capture tests: the
// three capture functions of OpenCV 2.4's C interface, serving the frames a
// test sets up with standInServe. Pixel k of the packed rows of frame f is
// (f + k) mod 256; padding bytes are 0xEE; bottom-left frames store their
// rows from the bottom.
#include <windows.h>

#include <vector>

#include "camera/capture_plugin_win/opencv_c_api.h"

extern "C" __declspec(dllimport) int standInCoreVersion();

namespace {

struct Setup {
  int frames = 0;  // -1: there is no camera
  int width = 0;
  int height = 0;
  int channels = 3;
  int widthStep = 0;
  int origin = VORNIK_OPENCV_ORIGIN_TOP_LEFT;
  int depth = VORNIK_OPENCV_DEPTH_8U;
};

struct StandInCapture {
  Setup setup;
  int served = 0;
  VornikOpenCvImage image = {};
  std::vector<char> pixels;
};

SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_queried = CONDITION_VARIABLE_INIT;
Setup g_setup;
long long g_queries = 0;
int g_lastIndex = -1;
int g_releases = 0;

}  // namespace

extern "C" {

__declspec(dllexport) void standInServe(int frames, int width, int height, int channels,
                                        int widthStep, int origin, int depth) {
  AcquireSRWLockExclusive(&g_lock);
  g_setup = Setup{frames, width, height, channels, widthStep, origin, depth};
  ReleaseSRWLockExclusive(&g_lock);
}

// Index of the last camera opened (-1: none), and captures released.
__declspec(dllexport) int standInLastIndex() {
  AcquireSRWLockShared(&g_lock);
  const int index = g_lastIndex;
  ReleaseSRWLockShared(&g_lock);
  return index;
}
__declspec(dllexport) int standInReleases() {
  AcquireSRWLockShared(&g_lock);
  const int releases = g_releases;
  ReleaseSRWLockShared(&g_lock);
  return releases;
}
__declspec(dllexport) long long standInQueries() {
  AcquireSRWLockShared(&g_lock);
  const long long queries = g_queries;
  ReleaseSRWLockShared(&g_lock);
  return queries;
}
// Returns once query number `count` has begun: the capture loop is then done
// with every frame of the queries before it.
__declspec(dllexport) void standInWaitForQueries(long long count) {
  AcquireSRWLockExclusive(&g_lock);
  while (g_queries < count) SleepConditionVariableSRW(&g_queried, &g_lock, INFINITE, 0);
  ReleaseSRWLockExclusive(&g_lock);
}

__declspec(dllexport) void* VORNIK_OPENCV_CALL cvCreateCameraCapture(int32_t index) {
  if (standInCoreVersion() != 2410) return nullptr;
  AcquireSRWLockExclusive(&g_lock);
  g_lastIndex = index;
  const Setup setup = g_setup;
  ReleaseSRWLockExclusive(&g_lock);
  if (setup.frames < 0) return nullptr;
  auto* capture = new StandInCapture;
  capture->setup = setup;
  return capture;
}

__declspec(dllexport) VornikOpenCvImage* VORNIK_OPENCV_CALL cvQueryFrame(void* handle) {
  AcquireSRWLockExclusive(&g_lock);
  ++g_queries;
  ReleaseSRWLockExclusive(&g_lock);
  WakeAllConditionVariable(&g_queried);
  auto* capture = static_cast<StandInCapture*>(handle);
  if (capture == nullptr || capture->served >= capture->setup.frames) return nullptr;
  const Setup& s = capture->setup;
  const int rowBytes = s.width * s.channels;
  capture->pixels.assign(static_cast<size_t>(s.widthStep) * s.height, static_cast<char>(0xEE));
  for (int row = 0; row < s.height; ++row) {
    const int stored = s.origin == VORNIK_OPENCV_ORIGIN_BOTTOM_LEFT ? s.height - 1 - row : row;
    for (int i = 0; i < rowBytes; ++i) {
      capture->pixels[static_cast<size_t>(stored) * s.widthStep + i] =
          static_cast<char>(capture->served + row * rowBytes + i);
    }
  }
  VornikOpenCvImage& image = capture->image;
  image = VornikOpenCvImage{};
  image.headerSize = sizeof(VornikOpenCvImage);
  image.channels = s.channels;
  image.depth = s.depth;
  image.origin = s.origin;
  image.rowAlignment = 4;
  image.width = s.width;
  image.height = s.height;
  image.imageSize = s.widthStep * s.height;
  image.imageData = capture->pixels.data();
  image.widthStep = s.widthStep;
  image.imageDataOrigin = capture->pixels.data();
  ++capture->served;
  return &image;
}

__declspec(dllexport) void VORNIK_OPENCV_CALL cvReleaseCapture(void** handle) {
  if (handle == nullptr || *handle == nullptr) return;
  delete static_cast<StandInCapture*>(*handle);
  *handle = nullptr;
  AcquireSRWLockExclusive(&g_lock);
  ++g_releases;
  ReleaseSRWLockExclusive(&g_lock);
}

}  // extern "C"
