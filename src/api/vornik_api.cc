// Exported namespaced functions over the AR manager.
#include <string>
#include <utility>

#include "api/library_lifetime.h"
#include "manager/ar_manager.h"
#include "vornik/vornik.h"

namespace vornik {

void setAppDataDirPath(std::string path) { ARManager::getInstance()->setAppDataDirPath(path); }

void setArdbAssetDirPath(std::string path) { ARManager::getInstance()->setArdbAssetDirPath(path); }

void addTrackableGroup(std::string groupFile) {
  ARManager::getInstance()->addTrackableGroup(groupFile);
}

void startTracker() {
  ARManager::getInstance()->startTracker();
  stopThreadsAtExit();
}

void stopTracker() { ARManager::getInstance()->stopTracker(); }

ITrackingResult& getTrackingResult() { return ARManager::getInstance()->getTrackingResult(); }

const Matrix44F& getProjectionMatrix() {
  return ARManager::getInstance()->getCameraCalibration()->getProjectionMatrix();
}

}  // namespace vornik
