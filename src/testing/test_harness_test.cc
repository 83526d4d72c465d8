#include "testing/test_harness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "builder/database_builder.h"
#include "common/image_io.h"
#include "common/synthetic_view.h"
#include "manager/profiler.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr char kRecognized[] = "{[{\"id\":\"astro\"}]}";

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Checks the comma-separated fields of a report line; "ms" stands for a
// time in whole milliseconds.
void expectRow(const std::string& line, const std::vector<std::string>& want) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  ASSERT_EQ(fields.size(), want.size()) << line;
  for (size_t i = 0; i < want.size(); ++i) {
    const bool ms =
        !fields[i].empty() && fields[i].find_first_not_of("0123456789") == std::string::npos;
    EXPECT_TRUE(want[i] == "ms" ? ms : fields[i] == want[i]) << "field " << i << " of " << line;
  }
}

// A database of the sample target ("astro") and one whose tracking data is
// too thin for an initial pose, with rendered views and an unrelated photo.
class TestHarnessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path().string() + "/vornik_harness_" + std::to_string(getpid());
    fs::create_directories(dir_);
    TargetSpec spec;
    spec.imagePath = std::string(VORNIK_DATA_DIR) + "/sample_target.jpg";
    spec.targetName = "astro";
    spec.displayName = "Astronaut";
    BuildOptions options;
    options.trainingViews = 0;
    std::vector<BuiltTarget> built;
    std::string error;
    ASSERT_TRUE(buildDatabase({spec}, options, dir_ + "/astro.db", nullptr, &built, &error))
        << error;
    options.maxTrackingFeatures = 3;
    ASSERT_TRUE(buildDatabase({spec}, options, dir_ + "/thin.db", nullptr, &built, &error))
        << error;

    Image target;
    ASSERT_TRUE(readImage(spec.imagePath, &target, &error)) << error;
    const Image clutter = makeClutter(kWidth, kHeight, 3);
    ViewOptions view;
    view.background = &clutter;
    ViewParams params;
    params.tiltDeg = 10.0;
    params.widthFraction = 0.6;
    RenderedView rendered;
    ASSERT_TRUE(renderView(target, poseFromView(params, view.camera), view, &rendered, &error));
    first_ = rendered.frame;
    params.offsetX = 0.005;
    params.rotationDeg = 0.5;
    ASSERT_TRUE(renderView(target, poseFromView(params, view.camera), view, &rendered, &error));
    second_ = rendered.frame;
    Image photo;
    ASSERT_TRUE(readImage(std::string(VORNIK_DATA_DIR) + "/photos/brick.jpg", &photo, &error));
    unknown_ = fitBackground(photo, kWidth, kHeight);
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  void SetUp() override {
    clearTimers();
    makeHarness("astro.db");
  }

  // A harness over a manager of its own that loads `group`.
  void makeHarness(const std::string& group) {
    manager_ = std::make_shared<ARManager>(nullptr);
    manager_->setAppDataDirPath(dir_ + "/appdata_" + group);
    manager_->setArdbAssetDirPath(dir_);
    manager_->addTrackableGroup(group);
    harness_ = std::make_unique<TestHarness>(manager_, nullptr);
  }

  void feed(const std::string& name, const Image& image) {
    harness_->trackNextImage(name, image.pixels.data(), static_cast<int>(image.pixels.size()),
                             image.width, image.height, 0);
  }

  std::string reportPath(const std::string& name) const { return dir_ + "/" + name; }

  static inline std::string dir_;
  static inline Image first_;
  static inline Image second_;
  static inline Image unknown_;
  std::shared_ptr<ARManager> manager_;
  std::unique_ptr<TestHarness> harness_;
};

// With the host's acquisition options on, which the test mode takes over:
// the refined initial pose still poses the real view, and a photo without
// the target is not recognised, candidates or not.
TEST_F(TestHarnessTest, RecognitionReportHasPosedAndUnknownLines) {
  const std::string path = reportPath("recognition.csv");
  AcquisitionOptions options;
  options.initialPoseFeaturesPerLayer = 150;
  options.refineInitialPose = true;
  options.ransacRescueIterations = 200;
  options.voteWindowEnlargement = 4;
  options.recognitionWindowVotes = 3;
  options.recognitionPoseCandidates = 2;
  manager_->setAcquisitionOptions(options);
  harness_->startTest(TEST_RECOGNITION, path, kWidth, kHeight);
  EXPECT_EQ(manager_->getTracker()->initialPoseOptions().featuresPerLayer, 150);
  EXPECT_TRUE(manager_->getTracker()->initialPoseOptions().refine);
  EXPECT_EQ(manager_->getTracker()->initialPoseOptions().ransacRescueIterations, 200);
  EXPECT_EQ(manager_->getTracker()->initialPoseOptions().voteWindowEnlargement, 4);
  EXPECT_EQ(manager_->getRecognizer()->options().windowRetryVotes, 3);
  EXPECT_EQ(manager_->getRecognizer()->options().poseCandidates, 2);
  feed("view.jpg", first_);
  feed("brick.jpg", unknown_);
  harness_->endTest();

  const std::vector<std::string> lines = readLines(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "Image name, Find Similar Image Result, TrackableId, Find Similar Image Time, Initial "
            "Pose Result, Initial Pose Time");
  expectRow(lines[1], {"view.jpg", "Success", kRecognized, "ms", "Success", "ms"});
  expectRow(lines[2], {"brick.jpg", "Fail", "ms"});
  // The pose of the first image was published, and the next image of the
  // same target would get a fresh initial pose.
  ITrackingResult& result = manager_->getTrackingResult();
  ASSERT_EQ(result.getCount(), 1);
  EXPECT_EQ(result.getTrackable(0).getId(), "astro");
  EXPECT_EQ(result.getTrackable(0).getName(), "Astronaut");
  EXPECT_EQ(manager_->getTracker()->keyframeTargetId(), "");
}

TEST_F(TestHarnessTest, TrackingReportRecognisesOnceThenOnlyTracks) {
  const std::string path = reportPath("tracking.csv");
  harness_->startTest(TEST_TRACKING, path, kWidth, kHeight);
  feed("f0.jpg", first_);
  EXPECT_EQ(harness_->context().trackState, kTestTracking);
  clearTimers();
  feed("f1.jpg", second_);
  // Neither the recogniser nor the initial pose ran on the second image.
  EXPECT_EQ(timerRecords().count(kTimerRecognitionOptTotal), 0u);
  EXPECT_EQ(timerRecords().count(kTimerInitPoseTotal), 0u);
  EXPECT_EQ(timerRecords().count(kTimerTotal), 1u);
  EXPECT_EQ(harness_->context().trackState, kTestTracking);
  feed("brick.jpg", unknown_);
  EXPECT_EQ(harness_->context().trackState, kTestRecognise);
  feed("brick2.jpg", unknown_);
  harness_->endTest();

  const std::vector<std::string> lines = readLines(path);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Image name, Track Image Result, Track Image Time");
  expectRow(lines[1], {"f0.jpg", "Success", "ms"});
  expectRow(lines[2], {"f1.jpg", "Success", "ms"});
  expectRow(lines[3], {"brick.jpg", "Tracking fail", "ms"});
  expectRow(lines[4], {"brick2.jpg", "Recognition fail", "ms"});
  EXPECT_EQ(manager_->getTrackingResult().getCount(), 1);
}

TEST_F(TestHarnessTest, RecognisedTargetWithoutPoseIsReportedAsPoseFailure) {
  makeHarness("thin.db");
  const std::string path = reportPath("thin_tracking.csv");
  harness_->startTest(TEST_TRACKING, path, kWidth, kHeight);
  feed("f0.jpg", first_);
  EXPECT_EQ(harness_->context().trackState, kTestRecognise);
  EXPECT_EQ(manager_->getTracker()->keyframeTargetId(), "");
  harness_->endTest();
  std::vector<std::string> lines = readLines(path);
  ASSERT_EQ(lines.size(), 2u);
  expectRow(lines[1], {"f0.jpg", "Initial pose fail", "ms"});

  const std::string recognition = reportPath("thin_recognition.csv");
  harness_->startTest(TEST_RECOGNITION, recognition, kWidth, kHeight);
  feed("f0.jpg", first_);
  harness_->endTest();
  lines = readLines(recognition);
  ASSERT_EQ(lines.size(), 2u);
  expectRow(lines[1], {"f0.jpg", "Success", kRecognized, "ms", "Fail", "ms"});
  EXPECT_EQ(manager_->getTrackingResult().getCount(), 0);
}

TEST_F(TestHarnessTest, ReportProblemsWriteNothingAndDoNotStopTheTest) {
  const std::string missing = reportPath("no/such/folder/report.csv");
  harness_->startTest(TEST_TRACKING, missing, kWidth, kHeight);
  feed("f0.jpg", first_);
  EXPECT_EQ(harness_->context().trackState, kTestTracking);
  harness_->endTest();
  EXPECT_FALSE(fs::exists(missing));

  // A second start without an end leaves the first report as it was and
  // opens nothing; the next start after an end works again.
  const std::string first = reportPath("first.csv");
  const std::string second = reportPath("second.csv");
  harness_->startTest(TEST_TRACKING, first, kWidth, kHeight);
  harness_->startTest(TEST_TRACKING, second, kWidth, kHeight);
  feed("f0.jpg", first_);
  harness_->endTest();
  EXPECT_EQ(readLines(first).size(), 1u);
  EXPECT_FALSE(fs::exists(second));
  harness_->startTest(TEST_TRACKING, second, kWidth, kHeight);
  feed("f0.jpg", first_);
  harness_->endTest();
  EXPECT_EQ(readLines(second).size(), 2u);

  // After the end, images go into the closed report.
  feed("late.jpg", first_);
  EXPECT_EQ(readLines(second).size(), 2u);
}

TEST_F(TestHarnessTest, BadImagesAreIgnoredAndOtherModesWriteOnlyNames) {
  const std::string path = reportPath("bad.csv");
  harness_->startTest(static_cast<TestModeEnum>(0), path, kWidth, kHeight);
  harness_->trackNextImage("null", nullptr, 100, kWidth, kHeight, 0);
  // Too short for 640 x 480 BGR pixels.
  harness_->trackNextImage("short", first_.pixels.data(), kWidth * kHeight, kWidth, kHeight, 0);
  EXPECT_FALSE(harness_->context().initialised);
  // The same bytes as grey pixels fit.
  harness_->trackNextImage("grey", first_.pixels.data(), kWidth * kHeight, kWidth, kHeight, 1);
  EXPECT_EQ(harness_->context().format, 1);
  // Later images keep the format the tracker was initialised with.
  feed("bgr", first_);
  EXPECT_EQ(harness_->context().format, 1);
  // Another size initialises the tracker for it instead of reading past the image.
  Image small(320, 240, 1, 90);
  harness_->trackNextImage("small", small.pixels.data(), static_cast<int>(small.pixels.size()), 320,
                           240, 1);
  EXPECT_EQ(harness_->context().trackerWidth, 320);
  EXPECT_EQ(harness_->context().trackerHeight, 240);
  harness_->endTest();
  EXPECT_EQ(readLines(path), std::vector<std::string>{"grey,bgr,small,"});
}

TEST_F(TestHarnessTest, ARefusedSizeAndFormatChangeChangesNothing) {
  // A grey image, then a smaller one that claims three bytes per pixel in a
  // buffer that holds only grey pixels: it must be refused before the format
  // switches, or the recognizer reads past the buffer.
  const std::string path = reportPath("refused.csv");
  harness_->startTest(TEST_RECOGNITION, path, 64, 48);
  std::vector<uint8_t> grey(64 * 48, 90);
  harness_->trackNextImage("a", grey.data(), static_cast<int>(grey.size()), 64, 48, 1);
  std::vector<uint8_t> small(32 * 24, 90);
  harness_->trackNextImage("b", small.data(), static_cast<int>(small.size()), 32, 24, 0);
  EXPECT_EQ(harness_->context().format, 1);
  EXPECT_EQ(harness_->context().trackerWidth, 64);
  harness_->trackNextImage("c", grey.data(), static_cast<int>(grey.size()), 64, 48, 1);
  harness_->endTest();
  const std::vector<std::string> lines = readLines(path);
  ASSERT_EQ(lines.size(), 3u);
  expectRow(lines[1], {"a", "Fail", "ms"});
  expectRow(lines[2], {"c", "Fail", "ms"});

  // The recognizer test checks in the same order, on its first call too.
  const std::string outPath = reportPath("refused.txt");
  std::ofstream out(outPath);
  ::testing::internal::CaptureStdout();
  harness_->testRecognizer(small.data(), "b", 32, 24, static_cast<int>(small.size()), 0, out);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  out.close();
  EXPECT_TRUE(readLines(outPath).empty());
  EXPECT_EQ(harness_->context().format, 1);
}

TEST_F(TestHarnessTest, RecognizerTestCountsPassesAndInitialisesOnce) {
  const std::string path = reportPath("recognizer.txt");
  std::ofstream out(path);
  ::testing::internal::CaptureStdout();
  harness_->testRecognizer(unknown_.pixels.data(), "brick.jpg", kWidth, kHeight,
                           static_cast<int>(unknown_.pixels.size()), 0, out);
  harness_->testRecognizer(first_.pixels.data(), "view.jpg", kWidth, kHeight,
                           static_cast<int>(first_.pixels.size()), 0, out);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  out.close();

  auto occurrences = [&](const std::string& text) {
    size_t count = 0;
    for (size_t at = printed.find(text); at != std::string::npos; at = printed.find(text, at + 1))
      ++count;
    return count;
  };
  EXPECT_EQ(occurrences("Reconizer initialization success !!\n"), 1u);
  EXPECT_EQ(occurrences("Tracker initialization success !!\n"), 2u);
  EXPECT_EQ(occurrences("fail : 10-0\n"), 1u);
  // Recognise, initial pose, then the first tracked pass publishes.
  EXPECT_EQ(occurrences("success : 3-0\n"), 1u);

  // Ten recognition passes complete a block of every recognition timer, so
  // only the total of the ten passes is left with samples after the failure.
  // One recognition pass: its five timers on one line; the initial-pose
  // timers close with the summary's final line end.
  const char* const want[] = {"brick\\.jpg",
                              "fail : 10-0",
                              "\\(RECOG-INITPOSE-TOTAL:[^(]*\\), ",
                              "",
                              "view\\.jpg",
                              "success : 3-0",
                              "\\(RECOG-INITPOSE-TOTAL:.*",
                              "\\(RECOGNITIONOPT-TOTAL:.*\\(RECOGNITIONOPT-MATCHING:.*",
                              "\\(INITPOSE-TOTAL:.*\\), "};
  const std::vector<std::string> lines = readLines(path);
  ASSERT_EQ(lines.size(), std::size(want));
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], std::regex(want[i]))) << i << ": " << lines[i];
  }
  EXPECT_EQ(manager_->getTrackingResult().getCount(), 1);
  EXPECT_TRUE(timerRecords().empty());
}

}  // namespace
}  // namespace vornik
