#pragma once
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "manager/ar_manager.h"
#include "testing/test_context.h"
#include "vornik/vornik.h"

namespace vornik {

// The still-image test modes: recognition and tracking driven by images the
// caller hands over, on the caller's thread, with comma-separated reports.
// Works on the AR manager's engines; the manager's tracking thread is not
// used and must not run at the same time.
class TestHarness {
 public:
  // `renderer` receives the images of renderNextImage; may be null.
  TestHarness(std::shared_ptr<ARManager> manager, std::shared_ptr<CameraPreviewCallback> renderer);

  // Loads the database, sizes the window, opens the report at `reportPath`
  // (truncated) and writes the mode's header line. A report that cannot be
  // opened, or one still open from an earlier start, leaves the report
  // stream failed: the test runs and writes nothing.
  void startTest(TestModeEnum mode, const std::string& reportPath, int width, int height);
  // Recognises (mode 1) or recognises and tracks (mode 2) one image and
  // appends its report line. Null pixels are ignored.
  void trackNextImage(const std::string& name, const unsigned char* pixels, int byteSize, int width,
                      int height, int format);
  // Hands the image to the renderer as a camera frame.
  void renderNextImage(const unsigned char* pixels, int byteSize, int width, int height,
                       int format);
  void endTest();
  // Runs the manager's frame stages up to ten times on one image and writes
  // "success" or "fail" with the pass counts to standard output and `out`,
  // followed by the profiler's mean times.
  void testRecognizer(const unsigned char* pixels, const std::string& name, int width, int height,
                      int byteSize, int format, std::ofstream& out);

  const TestContext& context() const { return context_; }

 private:
  // Passes of testRecognizer that end with a published pose.
  static constexpr int kRecognizerTestPasses = 10;

  void takeEngines();
  // The format an adopted image gets: its own when it names one (0 or 1),
  // else the current one.
  int32_t formatFor(int format) const;
  // Adopts the image (already checked) as the manager's frame and initialises
  // the tracker for its size and format.
  void adoptImage(const unsigned char* pixels, int byteSize, int width, int height, int format);
  bool imageFits(const unsigned char* pixels, int byteSize, int width, int height,
                 int32_t format) const;
  int32_t recognize(const unsigned char* pixels, int width, int height);
  int32_t track(const unsigned char* pixels, Trackable* trackable);
  void clearKeyframeTarget();
  void trackRecognition(const unsigned char* pixels, int width, int height, int32_t t0);
  void trackSequence(const unsigned char* pixels, int width, int height, int32_t t0);
  void writeTimerSummary(std::ostream& out) const;

  std::shared_ptr<ARManager> manager_;
  std::shared_ptr<CameraPreviewCallback> renderer_;
  TestContext context_;
  bool firstRecognizerTest_ = true;
};

// The process-wide harness over the AR manager and the OpenGL renderer,
// created on first use.
TestHarness& processTestHarness();

}  // namespace vornik
