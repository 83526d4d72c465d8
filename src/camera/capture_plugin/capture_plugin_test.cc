// The capture plug-in on real OpenCV: image sequences stand in for a camera.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

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

TEST_F(CapturePluginApi, ImageSequencesGiveBlueGreenRedFramesThenNoneAndGreyAsThreeEqualChannels) {
  // Losslessly written frames of an odd width: OpenCV's rows are not padded,
  // but the layout is checked anyway.
  std::vector<cv::Mat> frames;
  for (int i = 0; i < 3; ++i) {
    frames.emplace_back(37, 61, CV_8UC3);
    cv::randu(frames[i], 0, 256);
    ASSERT_TRUE(cv::imwrite(file("frame_00" + std::to_string(i) + ".png"), frames[i]));
  }
  expectSequence(file("frame_%03d.png"), frames);

  cv::Mat grey(20, 30, CV_8UC1);
  for (int i = 0; i < grey.rows * grey.cols; ++i) grey.data[i] = static_cast<uint8_t>(i * 13);
  ASSERT_TRUE(cv::imwrite(file("grey_0.png"), grey));
  cv::Mat widened;
  cv::merge(std::vector<cv::Mat>{grey, grey, grey}, widened);
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
