// The capture plug-in of Windows (vornik_capture.dll): the plug-in interface
// over OpenCV 2.4's plain capture functions, which it binds at run time from
// "opencv_core2410.dll" and "opencv_highgui2410.dll" in its own folder, next
// to Vornik.dll. Frames leave it as tightly packed rows from the top.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "camera/capture_plugin_api.h"
#include "camera/capture_plugin_win/opencv_c_api.h"
#include "platform/debug_output.h"
#include "platform/dynamic_library.h"
#include "platform/module_path.h"

namespace {

struct OpenCvFunctions {
  VornikCvCreateCameraCaptureFn createCameraCapture = nullptr;
  VornikCvQueryFrameFn queryFrame = nullptr;
  VornikCvReleaseCaptureFn releaseCapture = nullptr;
};

struct Capture {
  void* handle = nullptr;
  OpenCvFunctions functions;
  std::vector<uint8_t> packed;
  bool refusalReported = false;
};

void report(const std::string& line) { vornik::writeDebugOutput(line.c_str()); }

// Loads both libraries and resolves the three functions, once per process;
// after a failure the next open tries again. Libraries stay loaded.
bool bindOpenCv(OpenCvFunctions* functions) {
  static std::mutex mutex;
  static OpenCvFunctions bound;
  std::lock_guard<std::mutex> lock(mutex);
  if (bound.createCameraCapture == nullptr) {
    const std::string own = vornik::modulePath();
    const std::string directory = own.empty() ? std::string(".") : vornik::moduleDirectory(own);
    // The core first: highgui depends on it, and Windows would not look for
    // it in this folder.
    auto* core = new vornik::DynamicLibrary;
    auto* highgui = new vornik::DynamicLibrary;
    const std::string corePath = directory + "\\" + VORNIK_OPENCV_CORE_DLL;
    const std::string highguiPath = directory + "\\" + VORNIK_OPENCV_HIGHGUI_DLL;
    OpenCvFunctions found;
    if (!core->open(corePath)) {
      report("Capture plug-in: " + corePath + " could not be loaded (" + core->error() + ")\n");
    } else if (!highgui->open(highguiPath)) {
      report("Capture plug-in: " + highguiPath + " could not be loaded (" + highgui->error() +
             ")\n");
    } else {
      found.createCameraCapture = reinterpret_cast<VornikCvCreateCameraCaptureFn>(
          highgui->symbol(VORNIK_CV_CREATE_CAMERA_CAPTURE_NAME));
      found.queryFrame =
          reinterpret_cast<VornikCvQueryFrameFn>(highgui->symbol(VORNIK_CV_QUERY_FRAME_NAME));
      found.releaseCapture = reinterpret_cast<VornikCvReleaseCaptureFn>(
          highgui->symbol(VORNIK_CV_RELEASE_CAPTURE_NAME));
      if (found.createCameraCapture == nullptr || found.queryFrame == nullptr ||
          found.releaseCapture == nullptr) {
        report("Capture plug-in: " + highguiPath +
               " lacks " VORNIK_CV_CREATE_CAMERA_CAPTURE_NAME ", " VORNIK_CV_QUERY_FRAME_NAME
               " or " VORNIK_CV_RELEASE_CAPTURE_NAME "\n");
        found = OpenCvFunctions();
      }
    }
    if (found.createCameraCapture == nullptr) {
      delete highgui;
      delete core;
      return false;
    }
    bound = found;
  }
  *functions = bound;
  return true;
}

// A camera index: decimal digits only, within int32.
bool parseCameraIndex(const char* source, int32_t* index) {
  if (source == nullptr || *source == '\0') return false;
  int64_t value = 0;
  for (const char* c = source; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + (*c - '0');
    if (value > INT32_MAX) return false;
  }
  *index = static_cast<int32_t>(value);
  return true;
}

// Why `image` cannot be handed on, or null when it can.
const char* unusable(const VornikOpenCvImage& image) {
  if (image.depth != VORNIK_OPENCV_DEPTH_8U) return "samples are not 8-bit";
  if (image.dataOrder != 0) return "channels are not interleaved";
  if (image.channels < 1 || image.channels > 4) return "channel count is out of range";
  if (image.width <= 0 || image.height <= 0 || image.imageData == nullptr) return "it is empty";
  if (image.origin != VORNIK_OPENCV_ORIGIN_TOP_LEFT &&
      image.origin != VORNIK_OPENCV_ORIGIN_BOTTOM_LEFT) {
    return "its origin is unknown";
  }
  const int64_t rowBytes = static_cast<int64_t>(image.width) * image.channels;
  if (image.widthStep < rowBytes) return "rows overlap";
  if (static_cast<int64_t>(image.widthStep) * image.height > INT32_MAX) return "it is too large";
  return nullptr;
}

}  // namespace

extern "C" {

VORNIK_CAPTURE_EXPORT void* vornikCaptureOpen(const char* source) {
  int32_t index = 0;
  if (!parseCameraIndex(source, &index)) {
    report(std::string("Capture plug-in: source \"") + (source != nullptr ? source : "") +
           "\" is not a camera index; this plug-in opens cameras only\n");
    return nullptr;
  }
  OpenCvFunctions functions;
  if (!bindOpenCv(&functions)) return nullptr;
  void* handle = functions.createCameraCapture(index);
  if (handle == nullptr) return nullptr;
  Capture* capture = new (std::nothrow) Capture;
  if (capture == nullptr) {
    functions.releaseCapture(&handle);
    return nullptr;
  }
  capture->handle = handle;
  capture->functions = functions;
  return capture;
}

VORNIK_CAPTURE_EXPORT int32_t vornikCaptureQueryFrame(void* opened, VornikCaptureFrame* frame) {
  Capture* capture = static_cast<Capture*>(opened);
  if (capture == nullptr || frame == nullptr) return 0;
  const VornikOpenCvImage* image = capture->functions.queryFrame(capture->handle);
  if (image == nullptr) return 0;
  if (const char* reason = unusable(*image)) {
    if (!capture->refusalReported) {
      capture->refusalReported = true;
      report(std::string("Capture plug-in: camera frames are refused: ") + reason + "\n");
    }
    return 0;
  }
  const size_t rowBytes = static_cast<size_t>(image->width) * image->channels;
  const auto* pixels = reinterpret_cast<const uint8_t*>(image->imageData);
  const bool bottomUp = image->origin == VORNIK_OPENCV_ORIGIN_BOTTOM_LEFT;
  if (static_cast<size_t>(image->widthStep) == rowBytes && !bottomUp) {
    frame->data = pixels;
  } else {
    capture->packed.resize(rowBytes * image->height);
    for (int32_t row = 0; row < image->height; ++row) {
      const int32_t source = bottomUp ? image->height - 1 - row : row;
      const uint8_t* from = pixels + static_cast<size_t>(source) * image->widthStep;
      std::copy(from, from + rowBytes, capture->packed.data() + row * rowBytes);
    }
    frame->data = capture->packed.data();
  }
  frame->channels = image->channels;
  frame->width = image->width;
  frame->height = image->height;
  return 1;
}

VORNIK_CAPTURE_EXPORT void vornikCaptureRelease(void* opened) {
  Capture* capture = static_cast<Capture*>(opened);
  if (capture == nullptr) return;
  capture->functions.releaseCapture(&capture->handle);
  delete capture;
}

}  // extern "C"
