// A minimal host of the namespaced interface: database set-up, camera and
// tracker start, a few "frames" reading the result and the projection
// matrix, then stop.
//   vornik_minimal_host [assetDir group appDataDir [cameraSource [frames]]]
// Without a camera source the tracker runs without frames and the result
// stays empty; a source is "0" (first camera), a video file or an image
// pattern.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "vornik/vornik.h"

namespace {

void printLine(const char* line) {
  std::fputs(line, stdout);
  // Library lines do not always end their line.
  const size_t length = std::strlen(line);
  if (length == 0 || line[length - 1] != '\n') std::fputc('\n', stdout);
}

void printResult(int frame) {
  vornik::ITrackingResult& result = vornik::getTrackingResult();
  if (result.getCount() == 0) {
    std::printf("frame %d: no target\n", frame);
    return;
  }
  const vornik::ITrackable& trackable = result.getTrackable(0);
  const float* pose = trackable.getPose();
  std::printf("frame %d: %s (%s) %.0f x %.0f at %.1f %.1f %.1f\n", frame, trackable.getId().c_str(),
              trackable.getName().c_str(), trackable.getWidth(), trackable.getHeight(), pose[12],
              pose[13], pose[14]);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string assetDir = argc > 1 ? argv[1] : ".";
  const std::string group = argc > 2 ? argv[2] : "targets.grp";
  const std::string appDataDir = argc > 3 ? argv[3] : ".";
  const std::string source = argc > 4 ? argv[4] : "";
  const int frames = argc > 5 ? std::atoi(argv[5]) : 20;

  vornik::setLogCallback(&printLine);
  vornik::setAppDataDirPath(appDataDir);
  vornik::setArdbAssetDirPath(assetDir);
  vornik::addTrackableGroup(group);
  if (!source.empty()) {
    vornik::setCameraSource(source);
    vornik::startCamera(640, 480);
  }
  vornik::startTracker();

  // What a host does per rendered frame (without drawing anything here).
  vornik::updateRendering(1280, 720);
  for (int frame = 0; frame < (source.empty() ? 1 : frames); ++frame) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    printResult(frame);
  }
  // The identity until the first camera frame has told the camera size.
  const vornik::Matrix44F& projection = vornik::getProjectionMatrix();
  std::printf("projection diagonal: %g %g %g %g\n", projection.data[0], projection.data[5],
              projection.data[10], projection.data[15]);

  vornik::stopTracker();
  if (!source.empty()) vornik::stopCamera();
  vornik::setLogCallback(nullptr);
  std::printf("minimal host done\n");
  return 0;
}
