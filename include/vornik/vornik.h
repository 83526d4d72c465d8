#pragma once
// Vornik: image-target augmented reality. The namespaced interface.

#include <cstdint>
#include <fstream>
#include <string>

#include "vornik/export.h"

// Frame listener through which the camera and the still-image tests hand over
// frames. `data` holds `byteSize` bytes, valid only during the call.
// pixelFormat: 0 = 3 bytes per pixel blue-green-red, 1 = one grey byte per pixel.
class CameraPreviewCallback {
 public:
  virtual ~CameraPreviewCallback() = default;
  virtual void onPreviewFrame(const uint8_t* data, int32_t byteSize, int32_t width, int32_t height,
                              int32_t pixelFormat) = 0;
};

namespace vornik {

// 16 floats, column-major: element 4 * column + row.
struct Matrix44F {
  float data[16];
};

// One tracked target in one frame.
class ITrackable {
 public:
  virtual ~ITrackable() = default;
  // Pose of the target in the camera frame: column-major 4 x 4, translation in
  // elements 12..14 in target pixels; x right, y down, z into the scene.
  virtual const float* getPose() const = 0;
  virtual float getDistance() const = 0;
  virtual float getWidth() const = 0;
  virtual float getHeight() const = 0;
  virtual std::string getName() const = 0;
  virtual std::string getId() const = 0;
};

// An owning list of trackables (0 or 1 in a snapshot).
class ITrackingResult {
 public:
  virtual ~ITrackingResult() = default;
  // Throws std::out_of_range for an index outside 0 .. getCount() - 1.
  virtual ITrackable& getTrackable(int32_t index) = 0;
  virtual int32_t getCount() const = 0;
  virtual void clear() = 0;
};

enum TestModeEnum {
  TEST_RECOGNITION = 1,
  TEST_TRACKING = 2,
};

}  // namespace vornik
