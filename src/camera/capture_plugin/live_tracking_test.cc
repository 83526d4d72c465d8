// End to end on the live path: a database built from the sample photo, a
// rendered recording of it played as the camera, and the tracker's result
// read through the exported functions.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "builder/mkdb_command.h"
#include "common/image_io.h"
#include "common/synthetic_view.h"
#include "common/view_geometry.h"
#include "vornik/vornik.h"
#include "vornik/vornik_c.h"

namespace {

namespace fs = std::filesystem;

void quietLog(const char*) {}

TEST(LiveTracking, RecordedViewIsRecognisedAndPosedNearTheTruth) {
  const fs::path dir = fs::temp_directory_path() / ("vornik_live_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "cache");

  const std::string group = (dir / "live.grp").string();
  ASSERT_EQ(vornik::runMkdb({"-q", "-o", group, "--no-training",
                             std::string(VORNIK_DATA_DIR) + "/sample_target.jpg=poster"},
                            stdout, stderr),
            0);

  vornik::Image target;
  std::string error;
  ASSERT_TRUE(vornik::readImage(VORNIK_DATA_DIR "/sample_target.jpg", &target, &error)) << error;
  vornik::ViewOptions options;
  vornik::ViewParams params;
  params.tiltDeg = 20.0;
  params.rotationDeg = 10.0;
  params.widthFraction = 0.6;
  const vornik::PoseMatrix truth = vornik::poseFromView(params, options.camera);
  vornik::RenderedView view;
  ASSERT_TRUE(vornik::renderView(target, truth, options, &view, &error)) << error;
  // A still camera: the same view for ten seconds of frames, as links to one
  // file, so that a slow start of the engines still finds frames coming.
  constexpr int kFrames = 300;
  const fs::path still = dir / "still.png";
  ASSERT_TRUE(vornik::writePng(still.string(), view.frame, &error)) << error;
  for (int i = 0; i < kFrames; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%03d.png", i);
    fs::create_symlink(still, dir / name);
  }

  vornik::setLogCallback(&quietLog);
  vornik::setAppDataDirPath((dir / "cache").string());
  vornik::setArdbAssetDirPath(dir.string());
  vornik::addTrackableGroup("live.grp");
  vornik::setCameraSource((dir / "frame_%03d.png").string());
  vornik::startCamera(640, 480);
  vornik::startTracker();
  int count = 0;
  for (int i = 0; i < 1500 && count == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    count = getTrackableCount();
  }
  char id[34] = {};
  float pose[16] = {};
  float size[2] = {};
  int preview[2] = {};
  std::vector<uint8_t> shown(view.frame.pixels.size());
  if (count > 0) {
    getTrackableInfo(0, id, pose, size);
    getCameraPreviewSize(preview);
    getVideoFrame(shown.data());
  }
  vornik::stopTracker();
  vornik::stopCamera();
  int stopped[2] = {-1, -1};
  getCameraPreviewSize(stopped);
  vornik::setCameraSource("0");
  vornik::setLogCallback(nullptr);
  fs::remove_all(dir);

  ASSERT_EQ(count, 1);
  EXPECT_STREQ(id, "poster");
  // The plug-in next to the library served the recording to the renderer too.
  EXPECT_EQ(preview[0], view.frame.width);
  EXPECT_EQ(preview[1], view.frame.height);
  EXPECT_TRUE(shown == view.frame.pixels);
  EXPECT_EQ(stopped[0], 0);
  EXPECT_EQ(stopped[1], 0);
  ASSERT_GT(size[0], 0.0f);
  // Column-major pose with the translation in target pixels; the truth is
  // row-major in target widths.
  for (int r = 0; r < 3; ++r) {
    EXPECT_NEAR(pose[12 + r] / size[0], truth[4 * r + 3], 0.05 * truth[11]) << "t" << r;
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(pose[4 * c + r], truth[4 * r + c], 0.05) << "R" << r << c;
    }
  }
}

}  // namespace
