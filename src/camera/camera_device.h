#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

#include "vornik/vornik.h"

namespace vornik {

// A camera that hands every frame to an ordered list of listeners. The
// listeners are not owned.
class CameraDevice {
 public:
  virtual ~CameraDevice();

  virtual void setRequestedSize(int32_t width, int32_t height) = 0;
  virtual void start() = 0;
  virtual void stop() = 0;
  virtual int32_t getPreviewWidth() const = 0;
  virtual int32_t getPreviewHeight() const = 0;
  virtual double getScale() const = 0;
  virtual int32_t getBitsPerPixel() const = 0;
  virtual int32_t getFrameFormat() const = 0;
  virtual void removeAllListeners();
  // Appends; a listener added twice receives every frame twice.
  virtual void addListener(CameraPreviewCallback* listener);
  // Calls onPreviewFrame of every listener, in list order, without holding
  // the list's lock.
  virtual void dispatchFrame(const uint8_t* data, int32_t byteSize, int32_t width, int32_t height,
                             int32_t pixelFormat);

 private:
  // A second start sequence may append while the capture thread dispatches.
  std::mutex listenersMutex_;
  std::vector<CameraPreviewCallback*> listeners_;
};

}  // namespace vornik
