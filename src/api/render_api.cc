// Exported rendering functions, namespaced and flat.
#include "api/library_lifetime.h"
#include "camera/camera_sequence.h"
#include "camera/plugin_camera.h"
#include "manager/ar_manager.h"
#include "manager/log.h"
#include "manager/throttled_log.h"
#include "render/renderer_gl.h"
#include "vornik/vornik.h"
#include "vornik/vornik_c.h"

namespace vornik {

void setScreenOrientationModePortrait(bool portrait) {
  RendererGL::getInstance()->setPortrait(portrait);
  ARManager::getInstance()->setPortraitMode(portrait);
}

void initRendering() { RendererGL::getInstance()->initRendering(); }

void updateRendering(int width, int height) {
  RendererGL::getInstance()->updateRendering(width, height);
  auto manager = ARManager::getInstance();
  manager->getCameraCalibration()->setWindowSize(width, height, manager->portraitMode());
}

void renderVideoBackground() { RendererGL::getInstance()->renderVideoBackground(); }

void stopRendering() { RendererGL::getInstance()->stopRendering(); }

}  // namespace vornik

extern "C" {

void setScreenOrientationPortraitMode(bool portrait) {
  vornik::setScreenOrientationModePortrait(portrait);
}

void initRendering(void) { vornik::initRendering(); }

void updateRendering(int width, int height) { vornik::updateRendering(width, height); }

void renderVideoBackground(void) { vornik::renderVideoBackground(); }

void updateVideoBackground(int textureId) {
  vornik::RendererGL::getInstance()->updateVideoBackground(textureId);
}

void getVideoFrame(unsigned char* out) {
  if (out == nullptr) {
    // A host calls this every frame: a bad buffer must not flood the log.
    static vornik::ThrottledLog* const complaint = new vornik::ThrottledLog();
    complaint->log("getVideoFrame: null buffer ignored\n");
    return;
  }
  vornik::RendererGL::getInstance()->getVideoFrame(out);
}

void stopRendering(void) { vornik::stopRendering(); }

void destroy(void) {
  // The end of the library's work: its capture thread stops as well, so that
  // nothing delivers frames once the host lets go of the library.
  vornik::ARManager::getInstance()->stopTracker();
  vornik::stopCameraSequence(*vornik::PluginCamera::getInstance());
  vornik::stopRendering();
}

}  // extern "C"
