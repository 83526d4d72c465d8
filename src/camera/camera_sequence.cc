#include "camera/camera_sequence.h"

namespace vornik {

void startCameraSequence(CameraDevice& camera, CameraPreviewCallback* renderer,
                         CameraPreviewCallback* manager, int32_t width, int32_t height) {
  camera.setRequestedSize(width, height);
  camera.addListener(renderer);
  camera.addListener(manager);
  camera.start();
}

void stopCameraSequence(CameraDevice& camera) {
  camera.stop();
  camera.removeAllListeners();
}

}  // namespace vornik
