#include "camera/camera_device.h"

#include "manager/log.h"

namespace vornik {

CameraDevice::~CameraDevice() { removeAllListeners(); }

void CameraDevice::removeAllListeners() {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  listeners_.clear();
}

void CameraDevice::addListener(CameraPreviewCallback* listener) {
  if (listener == nullptr) {
    logMessage("Camera: null frame listener ignored\n");
    return;
  }
  std::lock_guard<std::mutex> lock(listenersMutex_);
  listeners_.push_back(listener);
}

void CameraDevice::dispatchFrame(const uint8_t* data, int32_t byteSize, int32_t width,
                                 int32_t height, int32_t pixelFormat) {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  for (CameraPreviewCallback* listener : listeners_) {
    listener->onPreviewFrame(data, byteSize, width, height, pixelFormat);
  }
}

}  // namespace vornik
