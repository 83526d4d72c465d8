// The capture plug-in on real OpenCV, and the live path through the shared
// library: image sequences stand in for a camera.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/capture_plugin_api.h"
#include "platform/dynamic_library.h"
#include "vornik/vornik.h"
#include "vornik/vornik_c.h"

namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() /
            ("vornik_capture_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Frames of the sample photo at width x height, shifted a little each frame
// so that every frame differs; written losslessly as frame_000.png, ...
std::vector<cv::Mat> writeSequence(const TempDir& dir, int count, int width, int height) {
  cv::Mat photo = cv::imread(VORNIK_DATA_DIR "/sample_target.jpg", cv::IMREAD_COLOR);
  EXPECT_FALSE(photo.empty());
  cv::Mat base;
  cv::resize(photo, base, cv::Size(width, height), 0, 0, cv::INTER_AREA);
  std::vector<cv::Mat> frames;
  for (int i = 0; i < count; ++i) {
    cv::Mat frame(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        frame.at<cv::Vec3b>(y, x) = base.at<cv::Vec3b>(y, (x + 3 * i) % width);
      }
    }
    char name[32];
    std::snprintf(name, sizeof name, "frame_%03d.png", i);
    EXPECT_TRUE(cv::imwrite(dir.file(name), frame));
    frames.push_back(frame);
  }
  return frames;
}

std::vector<uint8_t> bytesOf(const cv::Mat& image) {
  return std::vector<uint8_t>(image.data, image.data + image.total() * image.elemSize());
}

class CapturePluginApi : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.open(VORNIK_CAPTURE_PLUGIN)) << library_.error();
    open_ = reinterpret_cast<VornikCaptureOpenFn>(library_.symbol(VORNIK_CAPTURE_OPEN_NAME));
    query_ = reinterpret_cast<VornikCaptureQueryFrameFn>(
        library_.symbol(VORNIK_CAPTURE_QUERY_FRAME_NAME));
    release_ =
        reinterpret_cast<VornikCaptureReleaseFn>(library_.symbol(VORNIK_CAPTURE_RELEASE_NAME));
    ASSERT_NE(open_, nullptr);
    ASSERT_NE(query_, nullptr);
    ASSERT_NE(release_, nullptr);
  }
  vornik::DynamicLibrary library_;
  VornikCaptureOpenFn open_ = nullptr;
  VornikCaptureQueryFrameFn query_ = nullptr;
  VornikCaptureReleaseFn release_ = nullptr;
};

TEST_F(CapturePluginApi, ImageSequenceGivesPackedBlueGreenRedFramesThenNone) {
  TempDir dir;
  // An odd width: OpenCV's rows are not padded, but the layout is checked anyway.
  const auto frames = writeSequence(dir, 3, 61, 37);
  void* capture = open_(dir.file("frame_%03d.png").c_str());
  ASSERT_NE(capture, nullptr);
  for (const cv::Mat& expected : frames) {
    VornikCaptureFrame frame = {};
    ASSERT_EQ(query_(capture, &frame), 1);
    EXPECT_EQ(frame.channels, 3);
    EXPECT_EQ(frame.width, 61);
    EXPECT_EQ(frame.height, 37);
    ASSERT_NE(frame.data, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(frame.data, frame.data + 61 * 37 * 3), bytesOf(expected));
  }
  VornikCaptureFrame frame = {};
  EXPECT_EQ(query_(capture, &frame), 0);
  release_(capture);
}

TEST_F(CapturePluginApi, GreyImagesArriveAsThreeEqualChannels) {
  TempDir dir;
  cv::Mat grey(20, 30, CV_8UC1);
  for (int i = 0; i < grey.rows * grey.cols; ++i) grey.data[i] = static_cast<uint8_t>(i * 13);
  ASSERT_TRUE(cv::imwrite(dir.file("grey_0.png"), grey));
  void* capture = open_(dir.file("grey_%d.png").c_str());
  ASSERT_NE(capture, nullptr);
  VornikCaptureFrame frame = {};
  ASSERT_EQ(query_(capture, &frame), 1);
  ASSERT_EQ(frame.channels, 3);
  for (int i = 0; i < grey.rows * grey.cols; ++i) {
    ASSERT_EQ(frame.data[3 * i], grey.data[i]);
    ASSERT_EQ(frame.data[3 * i + 1], grey.data[i]);
    ASSERT_EQ(frame.data[3 * i + 2], grey.data[i]);
  }
  release_(capture);
}

TEST_F(CapturePluginApi, BadSourcesAndArgumentsAreRefused) {
  EXPECT_EQ(open_(nullptr), nullptr);
  EXPECT_EQ(open_("/nonexistent/clip.avi"), nullptr);
  EXPECT_EQ(open_("/nonexistent/frame_%03d.png"), nullptr);
  VornikCaptureFrame frame = {};
  EXPECT_EQ(query_(nullptr, &frame), 0);
  release_(nullptr);
}

// Live path: the library loads the plug-in from its own folder.
std::mutex g_logMutex;
std::vector<std::string> g_log;
void collectLog(const char* line) {
  std::lock_guard<std::mutex> lock(g_logMutex);
  g_log.emplace_back(line);
}
bool logHasLine(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_logMutex);
  return std::find(g_log.begin(), g_log.end(), text) != g_log.end();
}

// The preview size is stored once the first frame has reached both
// listeners; the host can only poll it.
void waitForPreview(int* size) {
  do {
    std::this_thread::yield();
    getCameraPreviewSize(size);
  } while (size[0] == 0);
}

class LiveCamera : public testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> lock(g_logMutex);
      g_log.clear();
    }
    vornik::setLogCallback(&collectLog);
  }
  void TearDown() override {
    vornik::stopCamera();
    vornik::setCameraSource("0");
    vornik::setLogCallback(nullptr);
  }
};

TEST_F(LiveCamera, SequenceFramesReachRendererAndManager) {
  TempDir dir;
  // A size no other test uses, so the manager's calibration logs it here.
  const auto frames = writeSequence(dir, 8, 352, 288);
  int size[2] = {-1, -1};
  getCameraPreviewSize(size);
  EXPECT_EQ(size[0], 0);
  EXPECT_EQ(size[1], 0);

  vornik::setCameraSource(dir.file("frame_%03d.png"));
  vornik::startCamera(640, 480);
  waitForPreview(size);
  EXPECT_EQ(size[0], 352);
  EXPECT_EQ(size[1], 288);

  // The renderer holds one of the frames, byte for byte.
  std::vector<uint8_t> shown(352 * 288 * 3);
  getVideoFrame(shown.data());
  bool matched = false;
  for (const cv::Mat& frame : frames) matched = matched || shown == bytesOf(frame);
  EXPECT_TRUE(matched);
  // The AR manager passed the camera size on to the calibration.
  EXPECT_TRUE(logHasLine("camera width : 352 height:288"));
  EXPECT_TRUE(logHasLine("Device camera opened"));

  testing::internal::CaptureStdout();
  vornik::stopCamera();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Release camera completed\n");
  getCameraPreviewSize(size);
  EXPECT_EQ(size[0], 0);
  EXPECT_EQ(size[1], 0);
}

}  // namespace
