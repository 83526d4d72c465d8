// A host that returns from main with the camera and the tracker running: the
// library must stop its threads at exit before anything they use is destroyed
// (under the address sanitizer a use of a destroyed object fails the run).
//   exit_without_stop_host <assetDir> <group> <appDataDir> <frame pattern>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "vornik/vornik_c.h"

namespace {

// Registered first, so it runs after every exit handler of the library; the
// pause gives threads left running time to touch what those handlers destroyed.
void afterTheLibrarysExitHandlers() {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int size[2] = {-1, -1};
  getCameraPreviewSize(size);
  if (size[0] != 0 || size[1] != 0) {
    std::fprintf(stderr, "the capture thread still ran at exit (%d x %d)\n", size[0], size[1]);
    std::_Exit(3);
  }
  std::puts("threads stopped at exit");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s assetDir group appDataDir framePattern\n", argv[0]);
    return 2;
  }
  std::atexit(&afterTheLibrarysExitHandlers);
  setAppDataDirPath(argv[3]);
  setArdbAssetDirPath(argv[1]);
  addTrackableGroup(argv[2]);
  setCameraSource(argv[4]);
  startCamera(640, 480);
  startTracker();
  int size[2] = {0, 0};
  for (int i = 0; i < 1000 && size[0] == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    getCameraPreviewSize(size);
  }
  if (size[0] == 0) {
    std::fprintf(stderr, "no camera frame arrived\n");
    return 1;
  }
  std::puts("returning from main with the camera and the tracker running");
  return 0;
}
