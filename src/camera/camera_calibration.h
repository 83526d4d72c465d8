#pragma once
#include <pthread.h>

#include <cstdint>

#include "vornik/vornik.h"

namespace vornik {

// Turns the camera frame size and the host window's size and orientation into
// the projection matrix; recomputed lazily on the first read after a change.
// Log lines are written after the lock is released, so that the host's log
// callback may call back in.
class CameraCalibration {
 public:
  CameraCalibration();
  ~CameraCalibration();
  CameraCalibration(const CameraCalibration&) = delete;
  CameraCalibration& operator=(const CameraCalibration&) = delete;

  // Host thread.
  void setWindowSize(int32_t width, int32_t height, bool portrait);
  // Capture thread, inside the AR manager's frame lock.
  void setCameraSize(int32_t width, int32_t height);
  // Identity until all four sizes are known. The reference stays valid for
  // the life of the calibration.
  const Matrix44F& getProjectionMatrix();
  // Overwrites all 16 elements; the camera height does not enter the result.
  void calcProjectionMatrix(int32_t windowWidth, int32_t windowHeight, int32_t cameraWidth,
                            int32_t cameraHeight, bool portrait);

 private:
  Matrix44F projection_;
  int32_t windowWidth_ = 0;
  int32_t windowHeight_ = 0;
  int32_t cameraWidth_ = 0;
  int32_t cameraHeight_ = 0;
  bool portraitMode_ = false;
  bool dirty_ = false;
  pthread_mutex_t mutex_;
};

}  // namespace vornik
