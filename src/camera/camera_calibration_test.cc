#include "camera/camera_calibration.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "manager/log.h"
#include "manager/log_capture_for_test.h"

namespace vornik {
namespace {

uint32_t bitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

void expectIdentity(const Matrix44F& m) {
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m.data[i], (i % 5 == 0) ? 1.0f : 0.0f) << "element " << i;
}

TEST(CameraCalibration, IdentityUntilBothSizesAreKnownThenRecomputedOnlyAfterAChange) {
  CameraCalibration calibration;
  {
    LogCapture log;
    calibration.calcProjectionMatrix(0, 720, 640, 480, false);
    expectIdentity(calibration.getProjectionMatrix());
    EXPECT_EQ(log.snapshot(),
              (std::vector<std::string>{"\n calcProjectionMatrix\n",
                                        "calcProjectionMatrix: a size is 0, matrix kept\n"}));
  }
  calibration.setWindowSize(1280, 720, false);
  expectIdentity(calibration.getProjectionMatrix());
  calibration.setCameraSize(640, 480);
  EXPECT_EQ(calibration.getProjectionMatrix().data[0], 2.0f);
  {
    LogCapture log;
    calibration.setWindowSize(1280, 720, false);
    calibration.setCameraSize(640, 480);
    calibration.getProjectionMatrix();
    EXPECT_TRUE(log.snapshot().empty());
  }
  {
    // A new camera size alone triggers exactly one recomputation on the next read.
    LogCapture log;
    calibration.setCameraSize(320, 240);
    calibration.getProjectionMatrix();
    calibration.getProjectionMatrix();
    EXPECT_EQ(log.count("\n calcProjectionMatrix\n"), 1);
  }
  // Turning the screen is a change even with the same size.
  calibration.setWindowSize(1280, 720, true);
  EXPECT_EQ(calibration.getProjectionMatrix().data[4], -1.125f);
}

TEST(CameraCalibration, MatrixOfEachOrientationAndItsLogLines) {
  struct Case {
    bool portrait;
    float m0, m1, m4, m5;
  };
  const Case cases[] = {
      {false, 2.0f, 0.0f, 0.0f, -1280.0f / 360.0f},  // -3.5555556
      {true, 0.0f, -2.0f, -1.125f, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.portrait ? "portrait" : "landscape");
    CameraCalibration calibration;
    LogCapture log;
    calibration.setWindowSize(1280, 720, c.portrait);
    calibration.setCameraSize(640, 480);
    const Matrix44F& m = calibration.getProjectionMatrix();
    const float expected[16] = {c.m0, c.m1, 0, 0, c.m4, c.m5, 0, 0, 0, 0, 0, 1.0f, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i) {
      if (i == 10 || i == 14) continue;
      EXPECT_EQ(bitsOf(m.data[i]), bitsOf(expected[i])) << "element " << i;
    }
    // The depth terms, pinned to their bit patterns.
    EXPECT_EQ(bitsOf(m.data[10]), 0x3F800150u);
    EXPECT_EQ(bitsOf(m.data[14]), 0xBE4CCDDAu);
    const std::vector<std::string> lines = {
        "CameraCalibration 54",           "window width : 1280 height:720",
        "CameraCalibration 69",           "camera width : 640 height:480",
        "CameraCalibration 164",          "camera width : 640 height:480",
        "Window width : 1280 height:720", "\n calcProjectionMatrix\n",
    };
    EXPECT_EQ(log.snapshot(), lines);
  }
}

TEST(CameraCalibration, IntegerProductThenSinglePrecisionQuotient) {
  // 333 x 640 / 1000 is not whole: -1280 / 213.12 in floats, not -1280 / 213.
  CameraCalibration calibration;
  calibration.calcProjectionMatrix(1000, 333, 640, 480, false);
  EXPECT_EQ(bitsOf(calibration.getProjectionMatrix().data[5]), 0xC0C03134u);
  calibration.calcProjectionMatrix(333, 1000, 640, 480, true);
  EXPECT_EQ(bitsOf(calibration.getProjectionMatrix().data[4]), 0xC0C03134u);
  EXPECT_EQ(bitsOf(calibration.getProjectionMatrix().data[5]), 0u);
}

// A host whose log callback reads the matrix and sets the window again: the
// calibration holds no lock while a line is delivered (a held one hangs here,
// and the test's time limit reports it).
CameraCalibration* g_reentered = nullptr;
std::vector<std::string>* g_reentryLines = nullptr;
void callBackIn(const char* line) {
  g_reentryLines->push_back(line);
  g_reentered->getProjectionMatrix();
  g_reentered->setWindowSize(1280, 720, false);
}

TEST(CameraCalibration, LogCallbackMayCallBackIn) {
  CameraCalibration calibration;
  std::vector<std::string> lines;
  g_reentered = &calibration;
  g_reentryLines = &lines;
  setLogSink(&callBackIn);
  calibration.setWindowSize(1280, 720, false);
  calibration.setCameraSize(640, 480);
  const float m5 = calibration.getProjectionMatrix().data[5];
  calibration.calcProjectionMatrix(1280, 720, 640, 480, true);
  setLogSink(nullptr);
  EXPECT_EQ(m5, -3.5555556f);
  EXPECT_EQ(calibration.getProjectionMatrix().data[4], -1.125f);
  EXPECT_EQ(lines.size(), 9u);
}

}  // namespace
}  // namespace vornik
