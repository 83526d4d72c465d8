// Exported rendering functions, namespaced and flat.
#include "manager/ar_manager.h"
#include "manager/log.h"
#include "vornik/vornik.h"
#include "vornik/vornik_c.h"

namespace vornik {

void setScreenOrientationModePortrait(bool portrait) {
  // Renderer: setPortrait(portrait).
  ARManager::getInstance()->setPortraitMode(portrait);
}

void initRendering() {
  // Renderer: forget the background texture.
}

void updateRendering(int width, int height) {
  // Renderer: screen size := width x height.
  auto manager = ARManager::getInstance();
  manager->getCameraCalibration()->setWindowSize(width, height, manager->portraitMode());
}

void renderVideoBackground() {
  // Renderer: draw the background.
}

void stopRendering() {
  // Renderer: stop.
}

}  // namespace vornik

extern "C" {

void setScreenOrientationPortraitMode(bool portrait) {
  vornik::setScreenOrientationModePortrait(portrait);
}

void initRendering(void) { vornik::initRendering(); }

void updateRendering(int width, int height) { vornik::updateRendering(width, height); }

void renderVideoBackground(void) { vornik::renderVideoBackground(); }

void updateVideoBackground(int textureId) {
  // Renderer: copy the newest frame into the host texture.
  (void)textureId;
}

void getVideoFrame(unsigned char* out) {
  if (out == nullptr) {
    vornik::logMessage("getVideoFrame: null buffer ignored\n");
    return;
  }
  // Renderer: copy the newest frame into out.
}

void stopRendering(void) { vornik::stopRendering(); }

void destroy(void) {
  vornik::ARManager::getInstance()->stopTracker();
  vornik::stopRendering();
}

}  // extern "C"
