#include "camera/camera_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/camera_sequence.h"
#include "camera/plugin_camera.h"
#include "manager/log.h"
#include "manager/log_capture_for_test.h"

namespace vornik {
namespace {

using Calls = std::vector<std::string>;

// Records "<name> <first byte> <byte size> <width>x<height>/<format>" per frame.
class Recorder : public CameraPreviewCallback {
 public:
  Recorder(std::string name, Calls* calls) : name_(std::move(name)), calls_(calls) {}
  void onPreviewFrame(const uint8_t* data, int32_t byteSize, int32_t width, int32_t height,
                      int32_t pixelFormat) override {
    calls_->push_back(name_ + " " + std::to_string(data[0]) + " " + std::to_string(byteSize) + " " +
                      std::to_string(width) + "x" + std::to_string(height) + "/" +
                      std::to_string(pixelFormat));
  }

 private:
  std::string name_;
  Calls* calls_;
};

class Complainer : public CameraPreviewCallback {
 public:
  void onPreviewFrame(const uint8_t*, int32_t, int32_t, int32_t, int32_t) override {
    logMessage("listener complains\n");
  }
};

TEST(CameraDevice, ListenersRunWithoutTheListLock) {
  // A listener logs, and the host's log callback registers another listener,
  // as a second start would: a held list lock hangs here. The newcomer gets
  // the next frame.
  static PluginCamera* camera = nullptr;
  static Recorder* newcomer = nullptr;
  Calls calls;
  Recorder late("late", &calls);
  Complainer complainer;
  PluginCamera device;
  camera = &device;
  newcomer = &late;
  device.addListener(&complainer);
  setLogSink([](const char*) { camera->addListener(newcomer); });
  const uint8_t pixels[3] = {5, 6, 7};
  device.dispatchFrame(pixels, 3, 1, 1, 0);
  EXPECT_TRUE(calls.empty());
  device.dispatchFrame(pixels, 3, 1, 1, 0);
  setLogSink(nullptr);
  EXPECT_EQ(calls, Calls{"late 5 3 1x1/0"});
}

// Listeners run in list order; a second start appends both again.
TEST(CameraSequence, RendererFirstEveryStartAppendsBothAgainAndOneCaptureThreadRuns) {
  Calls calls;
  Recorder renderer("renderer", &calls);
  Recorder manager("manager", &calls);
  PluginCamera camera;
  {
    LogCapture log;
    camera.addListener(nullptr);
    EXPECT_EQ(log.snapshot(), Calls{"Camera: null frame listener ignored\n"});
  }
  // Without a plug-in the capture thread still starts, and serves no frames.
  camera.setPluginPath("/nonexistent/capture-plugin.so");
  testing::internal::CaptureStdout();
  startCameraSequence(camera, &renderer, &manager, 320, 240);
  startCameraSequence(camera, &renderer, &manager, 320, 240);
  EXPECT_EQ(camera.getRequestedWidth(), 320);
  EXPECT_EQ(camera.getRequestedHeight(), 240);
  const uint8_t pixels[3] = {7, 8, 9};
  camera.dispatchFrame(pixels, 3, 1, 1, 0);
  EXPECT_EQ(calls, (Calls{"renderer 7 3 1x1/0", "manager 7 3 1x1/0", "renderer 7 3 1x1/0",
                          "manager 7 3 1x1/0"}));

  calls.clear();
  stopCameraSequence(camera);
  // One release message: one capture thread was started and joined.
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Release camera completed\n");
  EXPECT_EQ(camera.getRequestedWidth(), 0);
  EXPECT_EQ(camera.getRequestedHeight(), 0);
  camera.dispatchFrame(pixels, 3, 1, 1, 0);
  EXPECT_TRUE(calls.empty());
}

}  // namespace
}  // namespace vornik
