// Exported camera functions, namespaced and flat.
#include <string>

#include "api/library_lifetime.h"
#include "camera/camera_sequence.h"
#include "camera/plugin_camera.h"
#include "manager/ar_manager.h"
#include "manager/log.h"
#include "render/renderer_gl.h"
#include "vornik/vornik.h"
#include "vornik/vornik_c.h"

namespace vornik {

void setCameraSource(std::string source) { PluginCamera::getInstance()->setSource(source); }

void startCamera(int width, int height) {
  startCameraSequence(*PluginCamera::getInstance(), RendererGL::getInstance().get(),
                      ARManager::getInstance().get(), width, height);
  stopThreadsAtExit();
}

void stopCamera() { stopCameraSequence(*PluginCamera::getInstance()); }

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
  auto camera = vornik::PluginCamera::getInstance();
  size[0] = camera->getPreviewWidth();
  size[1] = camera->getPreviewHeight();
}

}  // extern "C"
