#include "camera/camera_calibration.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "manager/log.h"

namespace vornik {
namespace {

uint32_t bitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

std::vector<std::string>* g_lines = nullptr;
void captureLine(const char* line) { g_lines->push_back(line); }

// Collects the log lines written while it lives.
class LogCapture {
 public:
  LogCapture() {
    g_lines = &lines_;
    setLogSink(&captureLine);
  }
  ~LogCapture() {
    setLogSink(nullptr);
    g_lines = nullptr;
  }
  std::vector<std::string>& lines() { return lines_; }

 private:
  std::vector<std::string> lines_;
};

void expectIdentity(const Matrix44F& m) {
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m.data[i], (i % 5 == 0) ? 1.0f : 0.0f) << "element " << i;
}

// Every element that the orientation does not set is 0; the depth terms are
// pinned to their bit patterns.
void expectCommonTerms(const Matrix44F& m) {
  for (int i : {2, 3, 6, 7, 8, 9, 12, 13, 15}) EXPECT_EQ(bitsOf(m.data[i]), 0u) << "element " << i;
  EXPECT_EQ(bitsOf(m.data[10]), 0x3F800150u);
  EXPECT_EQ(m.data[11], 1.0f);
  EXPECT_EQ(bitsOf(m.data[14]), 0xBE4CCDDAu);
}

TEST(CameraCalibration, IdentityUntilBothSizesAreKnown) {
  CameraCalibration calibration;
  expectIdentity(calibration.getProjectionMatrix());
  calibration.setWindowSize(1280, 720, false);
  expectIdentity(calibration.getProjectionMatrix());
  calibration.setCameraSize(640, 480);
  EXPECT_EQ(calibration.getProjectionMatrix().data[0], 2.0f);
}

TEST(CameraCalibration, LandscapeMatrixAndItsLogLines) {
  CameraCalibration calibration;
  LogCapture log;
  calibration.setWindowSize(1280, 720, false);
  calibration.setCameraSize(640, 480);
  const Matrix44F& m = calibration.getProjectionMatrix();
  EXPECT_EQ(m.data[0], 2.0f);
  EXPECT_EQ(m.data[5], -3.5555556f);
  EXPECT_EQ(bitsOf(m.data[5]), bitsOf(-1280.0f / 360.0f));
  for (int i : {1, 4}) EXPECT_EQ(bitsOf(m.data[i]), 0u);
  expectCommonTerms(m);
  const std::vector<std::string> expected = {
      "CameraCalibration 54",           "window width : 1280 height:720",
      "CameraCalibration 69",           "camera width : 640 height:480",
      "CameraCalibration 164",          "camera width : 640 height:480",
      "Window width : 1280 height:720", "\n calcProjectionMatrix\n",
  };
  EXPECT_EQ(log.lines(), expected);
}

TEST(CameraCalibration, PortraitMatrix) {
  CameraCalibration calibration;
  calibration.setCameraSize(640, 480);
  calibration.setWindowSize(1280, 720, true);
  const Matrix44F& m = calibration.getProjectionMatrix();
  EXPECT_EQ(m.data[1], -2.0f);
  EXPECT_EQ(m.data[4], -1.125f);
  for (int i : {0, 5}) EXPECT_EQ(bitsOf(m.data[i]), 0u);
  expectCommonTerms(m);
}

TEST(CameraCalibration, IntegerProductThenSinglePrecisionQuotient) {
  // 700 x 640 / 1000 = 448 exactly; 333 x 640 / 1000 is not whole, so the
  // division is in floats: -1280 / 213.12.
  CameraCalibration calibration;
  calibration.calcProjectionMatrix(1000, 333, 640, 480, false);
  const float expected = (640.0f * -2.0f) / (static_cast<float>(333 * 640) / 1000.0f);
  EXPECT_EQ(bitsOf(calibration.getProjectionMatrix().data[5]), bitsOf(expected));
  calibration.calcProjectionMatrix(333, 1000, 640, 480, true);
  EXPECT_EQ(bitsOf(calibration.getProjectionMatrix().data[4]), bitsOf(expected));
  EXPECT_EQ(bitsOf(calibration.getProjectionMatrix().data[5]), 0u);
}

TEST(CameraCalibration, RecomputesOnlyAfterAChange) {
  CameraCalibration calibration;
  calibration.setWindowSize(1280, 720, false);
  calibration.setCameraSize(640, 480);
  calibration.getProjectionMatrix();
  {
    LogCapture log;
    calibration.setWindowSize(1280, 720, false);
    calibration.setCameraSize(640, 480);
    calibration.getProjectionMatrix();
    EXPECT_TRUE(log.lines().empty());
  }
  {
    // A new camera size alone triggers exactly one recomputation on the next read.
    LogCapture log;
    calibration.setCameraSize(320, 240);
    calibration.getProjectionMatrix();
    calibration.getProjectionMatrix();
    int computations = 0;
    for (const std::string& line : log.lines()) computations += line == "\n calcProjectionMatrix\n";
    EXPECT_EQ(computations, 1);
  }
  {
    // Turning the screen is a change even with the same size.
    calibration.setWindowSize(1280, 720, true);
    EXPECT_EQ(calibration.getProjectionMatrix().data[4], -1.125f);
  }
}

TEST(CameraCalibration, ZeroSizeInACalculationKeepsTheMatrix) {
  CameraCalibration calibration;
  LogCapture log;
  calibration.calcProjectionMatrix(0, 720, 640, 480, false);
  expectIdentity(calibration.getProjectionMatrix());
  ASSERT_EQ(log.lines().size(), 2u);
}

}  // namespace
}  // namespace vornik
