#include "camera/plugin_camera.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "camera/capture_frame_filter.h"
#include "camera/capture_plugin_loader.h"
#include "manager/log.h"
#include "manager/log_capture_for_test.h"
#include "platform/dynamic_library.h"
#include "platform/threads.h"
#include "render/renderer_gl.h"

namespace vornik {
namespace {

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
  void waitForFrames(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return frames_.size() >= count; });
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

// The stand-in plug-in's query counter, in the instance the camera loads.
struct FakePluginQueries {
  FakePluginQueries() {
    EXPECT_TRUE(library.open(VORNIK_FAKE_CAPTURE_PLUGIN)) << library.error();
    count = reinterpret_cast<int64_t (*)()>(library.symbol("fakeCaptureQueries"));
    waitFor = reinterpret_cast<void (*)(int64_t)>(library.symbol("fakeCaptureWaitForQueries"));
  }
  DynamicLibrary library;
  int64_t (*count)() = nullptr;
  // Returns once query `count` began.
  void (*waitFor)(int64_t) = nullptr;
};

class PluginCameraTest : public testing::Test {
 protected:
  void SetUp() override {
    camera_.setPluginPath(VORNIK_FAKE_CAPTURE_PLUGIN);
    camera_.addListener(&log_);
  }
  void TearDown() override { camera_.stop(); }

  LogCapture lines_;
  FakePluginQueries queries_;
  PluginCamera camera_;
  FrameLog log_;
};

TEST_F(PluginCameraTest, ThreeChannelFramesPassGreyWidensOtherLayoutsNeverReachAListener) {
  struct Case {
    const char* source;
    int frames;    // served by the plug-in
    int channels;  // of the delivered frames
    const char* complaint;
  };
  const Case cases[] = {
      {"frames:3:8x4", 3, 3, nullptr},
      {"frames:2:8x4x1", 2, 1, nullptr},
      {"frames:3:8x4x4", 3, 0,
       "Camera: frame 8x4 with 4 channels ignored: blue-green-red or grey expected"},
      {"frames:0:8x4", 0, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const size_t first = log_.frames().size();
    camera_.setSource(c.source);
    lines_.clear();
    const int64_t before = queries_.count();
    camera_.start();
    // Every served frame has been dispatched, or refused, and its size stored.
    queries_.waitFor(before + c.frames + 1);
    const bool delivered = c.channels != 0 && c.frames > 0;
    EXPECT_EQ(camera_.getPreviewWidth(), delivered ? 8 : 0);
    EXPECT_EQ(camera_.getPreviewHeight(), delivered ? 4 : 0);
    camera_.stop();
    EXPECT_EQ(camera_.getPreviewWidth(), 0);
    EXPECT_EQ(camera_.getPreviewHeight(), 0);

    const auto all = log_.frames();
    const std::vector<FrameLog::Frame> frames(all.begin() + first, all.end());
    ASSERT_EQ(frames.size(), delivered ? static_cast<size_t>(c.frames) : 0u);
    for (size_t f = 0; f < frames.size(); ++f) {
      EXPECT_EQ(frames[f].width, 8);
      EXPECT_EQ(frames[f].height, 4);
      EXPECT_EQ(frames[f].pixelFormat, 0);
      ASSERT_EQ(frames[f].bytes.size(), 8u * 4u * 3u);
      for (size_t i = 0; i < frames[f].bytes.size(); ++i) {
        const size_t served = c.channels == 1 ? i / 3 : i;
        ASSERT_EQ(frames[f].bytes[i], static_cast<uint8_t>(f + served))
            << "frame " << f << " byte " << i;
      }
    }
    const auto lines = lines_.snapshot();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Device camera opened");
    if (c.complaint == nullptr) {
      EXPECT_EQ(lines.size(), 1u);
    } else {
      // The first refusal at once; any later line is the same one, throttled.
      ASSERT_GE(lines.size(), 2u);
      EXPECT_EQ(lines[1], std::string(c.complaint) + "\n");
      for (size_t i = 2; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind(c.complaint, 0), 0u) << lines[i];
    }
  }
}

TEST(CaptureFrameFilter, HundredBadFramesAreOneLine) {
  struct Case {
    VornikCaptureFrame frame;
    const char* line;
  };
  static const uint8_t pixels[4 * 2 * 4] = {};
  const Case cases[] = {
      {{4, 4, 2, pixels},
       "Camera: frame 4x2 with 4 channels ignored: blue-green-red or grey expected\n"},
      {{0, 4, 2, pixels},
       "Camera: frame 4x2 with 0 channels ignored: blue-green-red or grey expected\n"},
      {{3, 4, 2, nullptr}, "Camera: frame 4x2 without usable pixels ignored\n"},
      {{3, 0, 2, pixels}, "Camera: frame 0x2 without usable pixels ignored\n"},
      {{1, 65536, 16384, pixels}, "Camera: frame 65536x16384 without usable pixels ignored\n"},
  };
  for (const Case& c : cases) {
    CaptureFrameFilter filter;
    LogCapture log;
    int32_t byteSize = -1;
    for (int i = 0; i < 100; ++i) EXPECT_EQ(filter.blueGreenRed(c.frame, &byteSize), nullptr);
    EXPECT_EQ(byteSize, -1);
    EXPECT_EQ(log.snapshot(), std::vector<std::string>{c.line});
  }
}

TEST_F(PluginCameraTest, MissingOrIncompletePluginOrSourceIsOneLogLineAndNoFrames) {
  camera_.setPluginPath("/nonexistent/libvornik_capture.so");
  camera_.start();
  // Loaded, and refused, before start() returns.
  auto lines = lines_.snapshot();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("/nonexistent/libvornik_capture.so could not be loaded"),
            std::string::npos)
      << lines[0];
  camera_.stop();

  // Any shared object without our three functions: the C library itself.
  lines_.clear();
  EXPECT_FALSE(loadCapturePlugin("libc.so.6").loaded());
  EXPECT_EQ(lines_.snapshot(),
            std::vector<std::string>{
                "Capture plug-in libc.so.6 lacks its entry points: no camera frames\n"});

  lines_.clear();
  camera_.setPluginPath(VORNIK_FAKE_CAPTURE_PLUGIN);
  camera_.setSource("no-such-source");
  camera_.setSource("");
  camera_.start();
  // The loop opens the source before it looks at the stop request.
  camera_.stop();
  EXPECT_EQ(lines_.snapshot(),
            (std::vector<std::string>{
                "setCameraSource: empty source ignored\n",
                "Camera source \"no-such-source\" could not be opened: no camera frames\n"}));
  EXPECT_TRUE(log_.frames().empty());
  EXPECT_EQ(camera_.getPreviewWidth(), 0);
}

// Opens the library at `path` as often as it is held open and closes it as
// often: the number of references the process held, which then unloads it.
int releaseAllReferences(const std::string& path) {
  int references = 0;
  for (;;) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return references;
    dlclose(handle);
    dlclose(handle);
    ++references;
  }
}

TEST_F(PluginCameraTest, TwentyCyclesLoadThePluginOnceBeforeTheFirstStartReturns) {
  // A copy of its own, which only this test loads (and finally unloads).
  static std::atomic<int> run{0};
  const std::string copy =
      (std::filesystem::temp_directory_path() /
       ("vornik_fake_capture_" + std::to_string(::getpid()) + "_" + std::to_string(run++) + ".so"))
          .string();
  std::filesystem::copy_file(VORNIK_FAKE_CAPTURE_PLUGIN, copy,
                             std::filesystem::copy_options::overwrite_existing);
  camera_.setPluginPath(copy);
  camera_.stop();
  camera_.setSource("frames:1000:16x2");
  for (int cycle = 0; cycle < 20; ++cycle) {
    const size_t before = log_.frames().size();
    camera_.start();
    if (cycle == 0) {
      void* loaded = dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD);
      EXPECT_NE(loaded, nullptr);
      if (loaded != nullptr) dlclose(loaded);
    }
    log_.waitForFrames(before + 1);
    camera_.stop();
    EXPECT_EQ(camera_.getPreviewWidth(), 0);
    // Each start reopens the source: every cycle begins again at frame 0.
    EXPECT_EQ(log_.frames()[before].bytes[0], 0) << "cycle " << cycle;
  }
  EXPECT_EQ(releaseAllReferences(copy), 1);
  std::filesystem::remove(copy);
}

TEST_F(PluginCameraTest, FailedThreadCreationIsLoggedAndTheNextStartTriesAgain) {
  // No lock of the camera is held while the line is delivered: the host's
  // callback may even call stop(), which then finds no thread to join.
  static PluginCamera* camera = nullptr;
  static std::vector<std::string>* seen = nullptr;
  std::vector<std::string> lines;
  camera = &camera_;
  seen = &lines;
  setLogSink([](const char* line) {
    seen->push_back(line);
    camera->stop();
  });
  camera_.setSource("frames:1000:8x4");
  failNextThreadCreations(1);
  testing::internal::CaptureStdout();
  camera_.start();
  setLogSink(nullptr);
  camera_.stop();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a thread was joined";
  EXPECT_EQ(lines, std::vector<std::string>{"Camera: capture thread could not be created (error " +
                                            std::to_string(EAGAIN) + ")\n"});

  camera_.start();
  log_.waitForFrames(1);
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
  // The renderer comes after the frame log: once the log has seen frame n + 1,
  // the renderer holds frame n and may be taking frame n + 1 while we read.
  std::vector<uint8_t> out(64 * 8 * 3);
  for (size_t read = 0; read < 20; ++read) {
    log_.waitForFrames(read + 2);
    renderer.getVideoFrame(out.data());
    // A frame's bytes run on from its first one; a torn copy would break that.
    for (size_t i = 0; i < out.size(); ++i) {
      ASSERT_EQ(out[i], static_cast<uint8_t>(out[0] + i)) << "read " << read << " byte " << i;
    }
  }
}

TEST(PluginCameraExit, StopFromAnExitHandlerWhileCapturing) {
  // As the library's exit hook does when the host returns from main without
  // stopCamera: whatever static destruction has taken away by then, stop()
  // and the capture thread it joins must not use it.
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        auto camera = PluginCamera::getInstance();
        FrameLog* log = new FrameLog;  // outlives the exit handler
        camera->setPluginPath(VORNIK_FAKE_CAPTURE_PLUGIN);
        camera->setSource("frames:100000:32x8");
        camera->addListener(RendererGL::getInstance().get());
        camera->addListener(log);
        camera->start();
        std::atexit([] {
          PluginCamera::getInstance()->stop();
          PluginCamera::getInstance()->removeAllListeners();
          std::fputs("stopped at exit\n", stderr);
        });
        log->waitForFrames(2);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "stopped at exit");
}

}  // namespace
}  // namespace vornik
