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
  // The listeners run without the lock: they log, and the host's log
  // callback may call back into the library. A copy is enough because the
  // list changes only while no capture thread runs, or by a second start
  // appending, whose listeners then get the next frame.
  std::vector<CameraPreviewCallback*> listeners;
  {
    std::lock_guard<std::mutex> lock(listenersMutex_);
    listeners = listeners_;
  }
  for (CameraPreviewCallback* listener : listeners) {
    listener->onPreviewFrame(data, byteSize, width, height, pixelFormat);
  }
}

}  // namespace vornik
