// The capture plug-in on real OpenCV: image sequences stand in for a camera.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "camera/capture_plugin_api.h"
#include "platform/dynamic_library.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> bytesOf(const cv::Mat& image) {
  return std::vector<uint8_t>(image.data, image.data + image.total() * image.elemSize());
}

class CapturePluginApi : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_);
    ASSERT_TRUE(library_.open(VORNIK_CAPTURE_PLUGIN)) << library_.error();
    open_ = reinterpret_cast<VornikCaptureOpenFn>(library_.symbol(VORNIK_CAPTURE_OPEN_NAME));
    query_ = reinterpret_cast<VornikCaptureQueryFrameFn>(
        library_.symbol(VORNIK_CAPTURE_QUERY_FRAME_NAME));
    release_ =
        reinterpret_cast<VornikCaptureReleaseFn>(library_.symbol(VORNIK_CAPTURE_RELEASE_NAME));
    ASSERT_TRUE(open_ != nullptr && query_ != nullptr && release_ != nullptr);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string file(const std::string& name) const { return (dir_ / name).string(); }
  // Each file of an image sequence as its three-channel frame, then none.
  void expectSequence(const std::string& pattern, const std::vector<cv::Mat>& expected) {
    void* capture = open_(pattern.c_str());
    ASSERT_NE(capture, nullptr);
    for (size_t i = 0; i < expected.size(); ++i) {
      VornikCaptureFrame frame = {};
      ASSERT_EQ(query_(capture, &frame), 1) << i;
      EXPECT_EQ(frame.channels, 3);
      EXPECT_EQ(frame.width, expected[i].cols);
      EXPECT_EQ(frame.height, expected[i].rows);
      ASSERT_NE(frame.data, nullptr);
      EXPECT_EQ(std::vector<uint8_t>(frame.data, frame.data + expected[i].total() * 3),
                bytesOf(expected[i]))
          << i;
    }
    VornikCaptureFrame frame = {};
    EXPECT_EQ(query_(capture, &frame), 0);
    release_(capture);
  }

  const fs::path dir_ =
      fs::temp_directory_path() /
      ("vornik_capture_" +
       std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
       std::to_string(::getpid()));
  vornik::DynamicLibrary library_;
  VornikCaptureOpenFn open_ = nullptr;
  VornikCaptureQueryFrameFn query_ = nullptr;
  VornikCaptureReleaseFn release_ = nullptr;
};

TEST_F(CapturePluginApi, ImageSequenceGivesPackedBlueGreenRedFramesThenNone) {
  // Frames of the sample photo, each shifted a little so that every frame
  // differs, written losslessly; an odd width: OpenCV's rows are not padded,
  // but the layout is checked anyway.
  constexpr int kW = 61;
  constexpr int kH = 37;
  cv::Mat photo = cv::imread(VORNIK_DATA_DIR "/sample_target.jpg", cv::IMREAD_COLOR);
  ASSERT_FALSE(photo.empty());
  cv::Mat base;
  cv::resize(photo, base, cv::Size(kW, kH), 0, 0, cv::INTER_AREA);
  std::vector<cv::Mat> frames;
  for (int i = 0; i < 3; ++i) {
    frames.emplace_back(kH, kW, CV_8UC3);
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        frames[i].at<cv::Vec3b>(y, x) = base.at<cv::Vec3b>(y, (x + 3 * i) % kW);
      }
    }
    ASSERT_TRUE(cv::imwrite(file("frame_00" + std::to_string(i) + ".png"), frames[i]));
  }
  expectSequence(file("frame_%03d.png"), frames);
}

TEST_F(CapturePluginApi, GreyImagesArriveAsThreeEqualChannels) {
  cv::Mat grey(20, 30, CV_8UC1);
  for (int i = 0; i < grey.rows * grey.cols; ++i) grey.data[i] = static_cast<uint8_t>(i * 13);
  ASSERT_TRUE(cv::imwrite(file("grey_0.png"), grey));
  cv::Mat widened(grey.rows, grey.cols, CV_8UC3);
  for (int i = 0; i < grey.rows * grey.cols; ++i) {
    widened.at<cv::Vec3b>(i / grey.cols, i % grey.cols) = cv::Vec3b::all(grey.data[i]);
  }
  expectSequence(file("grey_%d.png"), {widened});
}

TEST_F(CapturePluginApi, BadSourcesAndArgumentsAreRefused) {
  EXPECT_EQ(open_(nullptr), nullptr);
  EXPECT_EQ(open_("/nonexistent/clip.avi"), nullptr);
  EXPECT_EQ(open_("/nonexistent/frame_%03d.png"), nullptr);
  VornikCaptureFrame frame = {};
  EXPECT_EQ(query_(nullptr, &frame), 0);
  release_(nullptr);
}

}  // namespace
