#include "camera/plugin_camera.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/capture_plugin_loader.h"
#include "manager/log.h"
#include "render/renderer_gl.h"

namespace vornik {
namespace {

constexpr auto kWaitLimit = std::chrono::seconds(10);

// Thread-safe record of the frames a listener received.
class FrameLog : public CameraPreviewCallback {
 public:
  struct Frame {
    std::vector<uint8_t> bytes;
    int32_t width;
    int32_t height;
    int32_t pixelFormat;
  };
  void onPreviewFrame(const uint8_t* data, int32_t byteSize, int32_t width, int32_t height,
                      int32_t pixelFormat) override {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back({std::vector<uint8_t>(data, data + byteSize), width, height, pixelFormat});
    changed_.notify_all();
  }
  bool waitForFrames(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kWaitLimit, [&] { return frames_.size() >= count; });
  }
  std::vector<Frame> frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Frame> frames_;
};

std::mutex g_logMutex;
std::vector<std::string> g_logLines;
void collectLog(const char* line) {
  std::lock_guard<std::mutex> lock(g_logMutex);
  g_logLines.emplace_back(line);
}

class PluginCameraTest : public testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> lock(g_logMutex);
      g_logLines.clear();
    }
    setLogCallback(&collectLog);
    camera_.setPluginPath(VORNIK_FAKE_CAPTURE_PLUGIN);
    camera_.addListener(&log_);
  }
  void TearDown() override {
    camera_.stop();
    setLogCallback(nullptr);
  }
  std::vector<std::string> logLines() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_logLines;
  }

  PluginCamera camera_;
  FrameLog log_;
};

TEST_F(PluginCameraTest, DeliversPluginFramesAndReportsTheirSize) {
  camera_.setSource("frames:3:8x4");
  EXPECT_EQ(camera_.getPreviewWidth(), 0);
  EXPECT_EQ(camera_.getPreviewHeight(), 0);
  camera_.start();
  ASSERT_TRUE(log_.waitForFrames(3));
  // The size is stored right after the dispatch; the source is then exhausted.
  for (int i = 0; i < 100 && camera_.getPreviewWidth() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(camera_.getPreviewWidth(), 8);
  EXPECT_EQ(camera_.getPreviewHeight(), 4);

  const auto frames = log_.frames();
  ASSERT_EQ(frames.size(), 3u);
  for (size_t f = 0; f < frames.size(); ++f) {
    EXPECT_EQ(frames[f].width, 8);
    EXPECT_EQ(frames[f].height, 4);
    EXPECT_EQ(frames[f].pixelFormat, 0);
    ASSERT_EQ(frames[f].bytes.size(), 8u * 4u * 3u);
    for (size_t i = 0; i < frames[f].bytes.size(); ++i) {
      ASSERT_EQ(frames[f].bytes[i], static_cast<uint8_t>(f + i)) << "frame " << f << " byte " << i;
    }
  }
  const auto lines = logLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Device camera opened\n"), lines.end());

  testing::internal::CaptureStdout();
  camera_.stop();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Release camera completed\n");
  EXPECT_EQ(camera_.getPreviewWidth(), 0);
  EXPECT_EQ(camera_.getPreviewHeight(), 0);
}

TEST_F(PluginCameraTest, PreviewSizeStaysZeroWhileNoFrameCame) {
  camera_.setSource("frames:0:8x4");
  camera_.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(camera_.getPreviewWidth(), 0);
  EXPECT_EQ(camera_.getPreviewHeight(), 0);
  camera_.stop();
  EXPECT_TRUE(log_.frames().empty());
}

TEST_F(PluginCameraTest, MissingPluginOrSourceIsOneLogLineAndNoFrames) {
  camera_.setPluginPath("/nonexistent/libvornik_capture.so");
  testing::internal::CaptureStdout();
  camera_.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  camera_.stop();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Release camera completed\n");
  auto lines = logLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("/nonexistent/libvornik_capture.so could not be loaded"),
            std::string::npos)
      << lines[0];

  {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.clear();
  }
  camera_.setPluginPath(VORNIK_FAKE_CAPTURE_PLUGIN);
  camera_.setSource("no-such-source");
  camera_.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  camera_.stop();
  lines = logLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Camera source \"no-such-source\" could not be opened: no camera frames\n");
  EXPECT_TRUE(log_.frames().empty());
  EXPECT_EQ(camera_.getPreviewWidth(), 0);
}

TEST_F(PluginCameraTest, PluginWithoutEntryPointsIsRefused) {
  // Any shared object without our three functions: the C library itself.
  const CapturePlugin plugin = loadCapturePlugin("libc.so.6");
  EXPECT_FALSE(plugin.loaded());
  EXPECT_EQ(plugin.open, nullptr);
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Capture plug-in libc.so.6 lacks its entry points: no camera frames\n");
}

TEST_F(PluginCameraTest, StopWithoutStartAndRepeatedCyclesKeepWorking) {
  camera_.stop();
  camera_.setSource("frames:1000:16x2");
  for (int cycle = 0; cycle < 20; ++cycle) {
    const size_t before = log_.frames().size();
    camera_.start();
    ASSERT_TRUE(log_.waitForFrames(before + 1)) << "cycle " << cycle;
    camera_.stop();
    EXPECT_EQ(camera_.getPreviewWidth(), 0);
  }
  // Each start reopens the source: every cycle begins again at frame 0.
  EXPECT_EQ(log_.frames().front().bytes[0], 0);
}

TEST_F(PluginCameraTest, RendererHandsTheHostWholeFramesWhileCapturing) {
  RendererGL renderer;
  // Stops capture before the renderer goes away, also when an assertion fails.
  struct StopCapture {
    PluginCamera& camera;
    ~StopCapture() {
      camera.stop();
      camera.removeAllListeners();
    }
  } stopCapture{camera_};
  camera_.addListener(&renderer);
  camera_.setSource("frames:1000:64x8");
  camera_.start();
  // The renderer comes after the frame log: once the log has seen the second
  // frame, the renderer holds the first.
  ASSERT_TRUE(log_.waitForFrames(2));
  std::vector<uint8_t> out(64 * 8 * 3);
  for (int read = 0; read < 40; ++read) {
    renderer.getVideoFrame(out.data());
    // A frame's bytes run on from its first one; a torn copy would break that.
    for (size_t i = 0; i < out.size(); ++i) {
      ASSERT_EQ(out[i], static_cast<uint8_t>(out[0] + i)) << "read " << read << " byte " << i;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TEST_F(PluginCameraTest, EmptySourceIsIgnored) {
  camera_.setSource("frames:1:2x2");
  camera_.setSource("");
  EXPECT_EQ(camera_.getSource(), "frames:1:2x2");
}

TEST(PluginCameraPath, DefaultPluginSitsNextToTheLibraryFile) {
  const std::string path = defaultCapturePluginPath();
  const std::string name = kCapturePluginFileName;
  ASSERT_GT(path.size(), name.size());
  EXPECT_EQ(path.substr(path.size() - name.size() - 1), "/" + name);
  // Linked statically into this test, the library's file is the test program.
  EXPECT_NE(path.find("src/camera/"), std::string::npos) << path;
}

}  // namespace
}  // namespace vornik
