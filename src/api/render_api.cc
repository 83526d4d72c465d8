// Exported rendering functions, namespaced and flat.
#include "manager/ar_manager.h"
#include "manager/log.h"
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
    vornik::logMessage("getVideoFrame: null buffer ignored\n");
    return;
  }
  vornik::RendererGL::getInstance()->getVideoFrame(out);
}

void stopRendering(void) { vornik::stopRendering(); }

void destroy(void) {
  vornik::ARManager::getInstance()->stopTracker();
  vornik::stopRendering();
}

}  // extern "C"
