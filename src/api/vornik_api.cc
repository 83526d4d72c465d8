// Exported namespaced functions over the AR manager.
#include <algorithm>
#include <string>
#include <utility>

#include "api/library_lifetime.h"
#include "features/feature_mngr.h"
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

void setAcquisitionOptions(const AcquisitionOptions& options) {
  ARManager::getInstance()->setInitialPoseFeaturesPerLayer(
      std::clamp(options.initialPoseFeaturesPerLayer, 1, kMaxDescribedPerLayer));
}

ITrackingResult& getTrackingResult() { return ARManager::getInstance()->getTrackingResult(); }

const Matrix44F& getProjectionMatrix() {
  return ARManager::getInstance()->getCameraCalibration()->getProjectionMatrix();
}

}  // namespace vornik
