// The camera of Windows end to end: PluginCamera loads vornik_capture.dll,
// which binds the capture functions of stand-in OpenCV 2.4 libraries in its
// folder and turns their frames into tightly packed rows from the top.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "camera/capture_plugin_win/opencv_c_api.h"
#include "camera/plugin_camera.h"
#include "manager/log_capture_for_test.h"
#include "platform/dynamic_library.h"

namespace vornik {
namespace {

const std::string kStandInDir = VORNIK_OPENCV_STAND_IN_DIR;
const std::string kPlugin = kStandInDir + "/vornik_capture.dll";

class FrameLog : public CameraPreviewCallback {
 public:
  struct Frame {
    std::vector<uint8_t> bytes;
    int32_t width;
    int32_t height;
  };
  void onPreviewFrame(const uint8_t* data, int32_t byteSize, int32_t width, int32_t height,
                      int32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back({std::vector<uint8_t>(data, data + byteSize), width, height});
  }
  std::vector<Frame> frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  std::mutex mutex_;
  std::vector<Frame> frames_;
};

// The control functions of the stand-in highgui, in the instance the
// plug-in loads (its core first, as for the plug-in).
struct StandIn {
  StandIn() {
    EXPECT_TRUE(core.open(kStandInDir + "/" VORNIK_OPENCV_CORE_DLL)) << core.error();
    EXPECT_TRUE(highgui.open(kStandInDir + "/" VORNIK_OPENCV_HIGHGUI_DLL)) << highgui.error();
    serve = reinterpret_cast<void (*)(int, int, int, int, int, int, int)>(
        highgui.symbol("standInServe"));
    lastIndex = reinterpret_cast<int (*)()>(highgui.symbol("standInLastIndex"));
    releases = reinterpret_cast<int (*)()>(highgui.symbol("standInReleases"));
    queries = reinterpret_cast<long long (*)()>(highgui.symbol("standInQueries"));
    waitForQueries = reinterpret_cast<void (*)(long long)>(highgui.symbol("standInWaitForQueries"));
  }
  DynamicLibrary core;
  DynamicLibrary highgui;
  void (*serve)(int frames, int width, int height, int channels, int widthStep, int origin,
                int depth) = nullptr;
  int (*lastIndex)() = nullptr;
  int (*releases)() = nullptr;
  long long (*queries)() = nullptr;
  void (*waitForQueries)(long long) = nullptr;
};

class WindowsCaptureTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(standIn_.waitForQueries, nullptr); }

  StandIn standIn_;
  LogCapture lines_;
};

TEST_F(WindowsCaptureTest, FramesArriveAsPackedRowsFromTheTop) {
  struct Case {
    const char* what;
    const char* source;
    int width, height, channels, widthStep, origin, depth;
    int frames;      // served
    bool delivered;  // reach the listener
  };
  const Case cases[] = {
      {"padded rows", "0", 5, 4, 3, 16, VORNIK_OPENCV_ORIGIN_TOP_LEFT, 8, 3, true},
      {"unpadded rows", "0", 4, 3, 3, 12, VORNIK_OPENCV_ORIGIN_TOP_LEFT, 8, 2, true},
      {"rows from the bottom", "2", 5, 4, 3, 15, VORNIK_OPENCV_ORIGIN_BOTTOM_LEFT, 8, 2, true},
      {"grey, widened by the camera", "0", 6, 3, 1, 8, VORNIK_OPENCV_ORIGIN_TOP_LEFT, 8, 2, true},
      {"16-bit samples", "0", 4, 3, 3, 24, VORNIK_OPENCV_ORIGIN_TOP_LEFT, 16, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    standIn_.serve(c.frames, c.width, c.height, c.channels, c.widthStep, c.origin, c.depth);
    PluginCamera camera;
    FrameLog log;
    camera.setPluginPath(kPlugin);
    camera.setSource(c.source);
    camera.addListener(&log);
    lines_.clear();
    const int releasesBefore = standIn_.releases();
    const long long before = standIn_.queries();
    camera.start();
    standIn_.waitForQueries(before + c.frames + 1);
    EXPECT_EQ(camera.getPreviewWidth(), c.delivered ? c.width : 0);
    testing::internal::CaptureStdout();
    camera.stop();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Release camera completed\n");
    EXPECT_EQ(standIn_.releases(), releasesBefore + 1);
    EXPECT_EQ(standIn_.lastIndex(), std::stoi(c.source));
    ASSERT_FALSE(lines_.snapshot().empty());
    EXPECT_EQ(lines_.snapshot()[0], "Device camera opened");

    const auto frames = log.frames();
    ASSERT_EQ(frames.size(), c.delivered ? static_cast<size_t>(c.frames) : 0u);
    for (size_t f = 0; f < frames.size(); ++f) {
      EXPECT_EQ(frames[f].width, c.width);
      EXPECT_EQ(frames[f].height, c.height);
      ASSERT_EQ(frames[f].bytes.size(), static_cast<size_t>(c.width * c.height * 3));
      for (size_t i = 0; i < frames[f].bytes.size(); ++i) {
        const size_t served = c.channels == 1 ? i / 3 : i;
        ASSERT_EQ(frames[f].bytes[i], static_cast<uint8_t>(f + served))
            << "frame " << f << " byte " << i;
      }
    }
  }
}

TEST_F(WindowsCaptureTest, NoCameraNoOpenCvOrNoIndexIsOneLineAndNoFrames) {
  struct Case {
    const char* what;
    std::string plugin;
    const char* source;
    int frames;  // -1: the stand-in has no camera
  };
  const Case cases[] = {
      {"no camera", kPlugin, "0", -1},
      {"OpenCV missing", std::string(VORNIK_OPENCV_MISSING_DIR) + "/vornik_capture.dll", "0", 1},
      {"a file, not a camera", kPlugin, "video.avi", 1},
      {"an index out of range", kPlugin, "99999999999", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    standIn_.serve(c.frames, 4, 3, 3, 12, VORNIK_OPENCV_ORIGIN_TOP_LEFT, 8);
    PluginCamera camera;
    FrameLog log;
    camera.setPluginPath(c.plugin);
    camera.setSource(c.source);
    camera.addListener(&log);
    lines_.clear();
    testing::internal::CaptureStdout();
    camera.start();
    camera.stop();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Release camera completed\n");
    EXPECT_EQ(lines_.snapshot(),
              std::vector<std::string>{"Camera source \"" + std::string(c.source) +
                                       "\" could not be opened: no camera frames\n"});
    EXPECT_TRUE(log.frames().empty());
  }
}

}  // namespace
}  // namespace vornik
