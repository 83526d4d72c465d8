// Exported still-image test functions over the process-wide test harness.
#include <fstream>
#include <string>

#include "testing/test_harness.h"
#include "vornik/vornik.h"

namespace vornik {

void startTest(TestModeEnum mode, std::string reportPath, int width, int height) {
  processTestHarness().startTest(mode, reportPath, width, height);
}

void trackNextImage(std::string name, unsigned char* pixels, int byteSize, int width, int height,
                    int pixelFormat) {
  processTestHarness().trackNextImage(name, pixels, byteSize, width, height, pixelFormat);
}

void renderNextImage(unsigned char* pixels, int byteSize, int width, int height, int pixelFormat) {
  processTestHarness().renderNextImage(pixels, byteSize, width, height, pixelFormat);
}

void testRecognizer(unsigned char* pixels, std::string name, int width, int height, int byteSize,
                    int pixelFormat, std::ofstream& report) {
  processTestHarness().testRecognizer(pixels, name, width, height, byteSize, pixelFormat, report);
}

void endTest() { processTestHarness().endTest(); }

}  // namespace vornik
