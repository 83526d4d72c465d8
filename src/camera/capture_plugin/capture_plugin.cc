// Capture plug-in over OpenCV's cv::VideoCapture. Loaded by the library at
// run time so that the library itself never links OpenCV.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <cctype>
#include <cstdlib>
#include <new>
#include <string>

#include "camera/capture_plugin_api.h"

namespace {

struct Capture {
  cv::VideoCapture video;
  cv::Mat grabbed;
  // Tightly packed blue-green-red copy when the grabbed image is not already.
  cv::Mat packed;
};

bool isDeviceIndex(const std::string& source) {
  if (source.empty() || source.size() > 4) return false;
  for (char c : source) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

extern "C" {

VORNIK_CAPTURE_EXPORT void* vornikCaptureOpen(const char* source) {
  if (source == nullptr) return nullptr;
  Capture* capture = new (std::nothrow) Capture;
  if (capture == nullptr) return nullptr;
  try {
    const std::string name(source);
    if (isDeviceIndex(name)) {
      if (capture->video.open(std::atoi(name.c_str()))) return capture;
    } else {
      // Files and image-sequence patterns, by the back ends that read files.
      // Not CAP_ANY: it also probes camera back ends, which enumerate USB
      // devices for a file name and leak while doing so.
      for (int backend : {cv::CAP_FFMPEG, cv::CAP_IMAGES, cv::CAP_GSTREAMER}) {
        if (capture->video.open(name, backend)) return capture;
      }
    }
  } catch (const cv::Exception&) {
  }
  delete capture;
  return nullptr;
}

VORNIK_CAPTURE_EXPORT int32_t vornikCaptureQueryFrame(void* handle, VornikCaptureFrame* frame) {
  if (handle == nullptr || frame == nullptr) return 0;
  Capture* capture = static_cast<Capture*>(handle);
  try {
    if (!capture->video.read(capture->grabbed) || capture->grabbed.empty() ||
        capture->grabbed.depth() != CV_8U) {
      return 0;
    }
    const cv::Mat& image = capture->grabbed;
    const cv::Mat* out = &image;
    switch (image.channels()) {
      case 1:
        cv::cvtColor(image, capture->packed, cv::COLOR_GRAY2BGR);
        out = &capture->packed;
        break;
      case 3:
        if (!image.isContinuous()) {
          image.copyTo(capture->packed);
          out = &capture->packed;
        }
        break;
      case 4:
        cv::cvtColor(image, capture->packed, cv::COLOR_BGRA2BGR);
        out = &capture->packed;
        break;
      default:
        return 0;
    }
    frame->channels = 3;
    frame->width = out->cols;
    frame->height = out->rows;
    frame->data = out->data;
    return 1;
  } catch (const cv::Exception&) {
    return 0;
  }
}

VORNIK_CAPTURE_EXPORT void vornikCaptureRelease(void* handle) {
  Capture* capture = static_cast<Capture*>(handle);
  if (capture == nullptr) return;
  try {
    capture->video.release();
  } catch (const cv::Exception&) {
  }
  delete capture;
}

}  // extern "C"
