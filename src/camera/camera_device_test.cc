#include "camera/camera_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/camera_sequence.h"
#include "camera/plugin_camera.h"
#include "manager/log.h"

namespace vornik {
namespace {

struct Call {
  std::string listener;
  uint8_t firstByte;
  int32_t byteSize;
  int32_t width;
  int32_t height;
  int32_t pixelFormat;
  bool operator==(const Call& o) const {
    return listener == o.listener && firstByte == o.firstByte && byteSize == o.byteSize &&
           width == o.width && height == o.height && pixelFormat == o.pixelFormat;
  }
};

class Recorder : public CameraPreviewCallback {
 public:
  Recorder(std::string name, std::vector<Call>* calls) : name_(std::move(name)), calls_(calls) {}
  void onPreviewFrame(const uint8_t* data, int32_t byteSize, int32_t width, int32_t height,
                      int32_t pixelFormat) override {
    calls_->push_back({name_, data[0], byteSize, width, height, pixelFormat});
  }

 private:
  std::string name_;
  std::vector<Call>* calls_;
};

// A device with no capture of its own: only the listener list is exercised.
class ListOnlyCamera : public CameraDevice {
 public:
  void setRequestedSize(int32_t, int32_t) override {}
  void start() override {}
  void stop() override {}
  int32_t getPreviewWidth() const override { return 0; }
  int32_t getPreviewHeight() const override { return 0; }
  double getScale() const override { return 1.0; }
  int32_t getBitsPerPixel() const override { return 24; }
  int32_t getFrameFormat() const override { return 0; }
};

TEST(CameraDevice, DispatchesToListenersInListOrderWithDuplicates) {
  std::vector<Call> calls;
  Recorder a("a", &calls);
  Recorder b("b", &calls);
  ListOnlyCamera camera;
  camera.addListener(&b);
  camera.addListener(&a);
  camera.addListener(&b);
  camera.addListener(nullptr);
  const uint8_t pixels[6] = {42, 1, 2, 3, 4, 5};
  camera.dispatchFrame(pixels, 6, 2, 1, 0);
  const std::vector<Call> expected = {
      {"b", 42, 6, 2, 1, 0}, {"a", 42, 6, 2, 1, 0}, {"b", 42, 6, 2, 1, 0}};
  EXPECT_EQ(calls, expected);

  calls.clear();
  camera.removeAllListeners();
  camera.dispatchFrame(pixels, 6, 2, 1, 0);
  EXPECT_TRUE(calls.empty());
}

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
  static ListOnlyCamera* camera = nullptr;
  static Recorder* newcomer = nullptr;
  std::vector<Call> calls;
  Recorder late("late", &calls);
  Complainer complainer;
  ListOnlyCamera device;
  camera = &device;
  newcomer = &late;
  device.addListener(&complainer);
  setLogSink([](const char*) { camera->addListener(newcomer); });
  const uint8_t pixels[3] = {5, 6, 7};
  device.dispatchFrame(pixels, 3, 1, 1, 0);
  EXPECT_TRUE(calls.empty());
  device.dispatchFrame(pixels, 3, 1, 1, 0);
  setLogSink(nullptr);
  EXPECT_EQ(calls, (std::vector<Call>{{"late", 5, 3, 1, 1, 0}}));
}

TEST(CameraSequence, RendererFirstAndEveryStartAppendsBothAgain) {
  std::vector<Call> calls;
  Recorder renderer("renderer", &calls);
  Recorder manager("manager", &calls);
  ListOnlyCamera camera;
  startCameraSequence(camera, &renderer, &manager, 640, 480);
  startCameraSequence(camera, &renderer, &manager, 640, 480);
  const uint8_t pixels[3] = {7, 8, 9};
  camera.dispatchFrame(pixels, 3, 1, 1, 0);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].listener, "renderer");
  EXPECT_EQ(calls[1].listener, "manager");
  EXPECT_EQ(calls[2].listener, "renderer");
  EXPECT_EQ(calls[3].listener, "manager");

  calls.clear();
  stopCameraSequence(camera);
  camera.dispatchFrame(pixels, 3, 1, 1, 0);
  EXPECT_TRUE(calls.empty());
}

TEST(CameraSequence, TwoStartsRunOneCaptureThread) {
  std::vector<Call> calls;
  Recorder renderer("renderer", &calls);
  Recorder manager("manager", &calls);
  PluginCamera camera;
  camera.setPluginPath("/nonexistent/capture-plugin.so");
  testing::internal::CaptureStdout();
  startCameraSequence(camera, &renderer, &manager, 320, 240);
  startCameraSequence(camera, &renderer, &manager, 320, 240);
  EXPECT_EQ(camera.getRequestedWidth(), 320);
  EXPECT_EQ(camera.getRequestedHeight(), 240);
  stopCameraSequence(camera);
  // One release message: one capture thread was started and joined.
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Release camera completed\n");
  EXPECT_EQ(camera.getRequestedWidth(), 0);
  EXPECT_EQ(camera.getRequestedHeight(), 0);
  EXPECT_TRUE(calls.empty());
}

}  // namespace
}  // namespace vornik
