#pragma once
#include <cstdint>

#include "camera/camera_device.h"

namespace vornik {

// The exported startCamera: records the requested size, registers the
// renderer and then the AR manager as listeners, and starts capture. Every
// call appends both listeners again.
void startCameraSequence(CameraDevice& camera, CameraPreviewCallback* renderer,
                         CameraPreviewCallback* manager, int32_t width, int32_t height);

// The exported stopCamera: stops and joins capture, then empties the
// listener list.
void stopCameraSequence(CameraDevice& camera);

}  // namespace vornik
