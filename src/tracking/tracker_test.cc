#include "tracking/tracker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "database/group_file_writer.h"
#include "features/feature_extractor.h"
#include "tracking/patch_search.h"
#include "tracking/se3.h"
#include "tracking/test_images.h"

namespace vornik {
namespace {

using testing_images::loadGrayJpeg;
using testing_images::renderPlane;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
const std::string kRecognition = "{\"id\":\"astro\",\"score\":42}";

Mat44f viewPose(const Vector3F& rotation, const Vector3F& t) {
  Matrix33F facing = Matrix33F::identity();
  facing(1, 1) = -1.0f;
  facing(2, 2) = -1.0f;
  return Mat44f::rigid(so3Exp(rotation) * facing, t);
}

// Largest distance between the projected target corners of two poses, pixels.
float cornerDistance(const Mat44f& a, const Mat44f& b) {
  float worst = 0;
  for (float X : {-0.5f, 0.5f}) {
    for (float Y : {-0.5f, 0.5f}) {
      float ca[3], na[2], pa[2], cb[3], nb[2], pb[2];
      projectPlanePoint(a, X, Y, kWidth, kHeight, ca, na, pa);
      projectPlanePoint(b, X, Y, kWidth, kHeight, cb, nb, pb);
      worst = std::max(worst, std::hypot(pa[0] - pb[0], pa[1] - pb[1]));
    }
  }
  return worst;
}

// Row-major pose back from the column-major result, translation unscaled.
Mat44f resultPose(const Trackable& result, float targetWidth) {
  Mat44f p;
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) p(r, c) = result.getPose()[4 * c + r];
  for (int r = 0; r < 3; ++r) p(r, 3) /= targetWidth;
  return p;
}

std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A one-target database of the sample photo, built with the library's own
// Hessian features (positions from the image centre, y up).
class TrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(VORNIK_BINARY_DIR) + "/tracker_test_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    mkdir(dir_.c_str(), 0755);
    const std::string photo = std::string(VORNIK_DATA_DIR) + "/sample_target.jpg";
    target_ = loadGrayJpeg(photo);
    ASSERT_TRUE(target_);
    jpeg_ = readBytes(photo);
    ASSERT_FALSE(jpeg_.empty());
  }

  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void writeDatabase(bool withImage, const std::string& json, float headerValue = 2.5f) {
    FeatureExtractor extractor(target_->width, target_->height, 1);
    auto found = extractor.extract(target_->pixels.get());
    ASSERT_TRUE(found);
    std::vector<FeaturePtr> features = found->describe();
    ASSERT_GT(features.size(), 40u);
    for (FeaturePtr& f : features) {
      f->x = f->x - (target_->width >> 1);
      f->y = (target_->height >> 1) - f->y;
    }
    std::vector<uint8_t> trk, dat;
    ASSERT_TRUE(encodeTrackingEntry(target_->width, target_->height, features, trk));
    ASSERT_TRUE(encodeDescriptorEntry(headerValue, {}, dat));
    GroupFileWriter writer;
    writer.addEntry("astro.dat", dat);
    writer.addEntry("astro.trk", trk);
    if (withImage) writer.addEntry("astro.jpg", jpeg_);
    writer.addEntry("astro.json", json);
    ASSERT_TRUE(writer.writeFile(dir_ + "/test.db"));
    database_ = std::make_shared<ArdbMngr>();
    database_->setArdbAssetDirPath(dir_);
    database_->loadTrackerData(dir_ + "/appdata", {"test.db"});
  }

  std::vector<uint8_t> render(const Mat44f& pose) {
    auto image = renderPlane(*target_, pose, kWidth, kHeight);
    return std::vector<uint8_t>(image->pixels.get(), image->pixels.get() + kWidth * kHeight);
  }

  std::string dir_;
  std::unique_ptr<GrayImage> target_;
  std::vector<uint8_t> jpeg_;
  std::shared_ptr<ArdbMngr> database_;
};

TEST(ExtractTargetId, TakesTheQuotedValueAfterTheFirstIdKey) {
  std::string id;
  EXPECT_TRUE(extractTargetId("{\"id\":\"poster\",\"n\":5}", &id));
  EXPECT_EQ(id, "poster");
  EXPECT_TRUE(extractTargetId("{\"x\":1, \"id\" :  \"a b\", \"id\":\"c\"}", &id));
  EXPECT_EQ(id, "a b");
  EXPECT_TRUE(extractTargetId("\"id\": 7, \"name\":\"late\"", &id));
  EXPECT_EQ(id, "name");  // the first quoted text after the colon, wherever it is
  id = "kept";
  for (const char* bad : {"", "{\"name\":\"x\"}", "{\"id\" \"x\"}", "{\"id\":5}", "{\"id\":\"open",
                          "{\"id\":\"\"}", "{id:\"x\"}"}) {
    EXPECT_FALSE(extractTargetId(bad, &id)) << bad;
    EXPECT_EQ(id, "kept");
  }
}

TEST(MotionModel, VelocityIsADecayingAverageOfTheLastMotion) {
  const Mat44f start = viewPose({0.1f, 0.2f, -0.1f}, {0.1f, -0.05f, 1.5f});
  const SixVector step(0.01f, -0.02f, 0.03f, 0.02f, -0.01f, 0.015f);
  const Mat44f moved = se3Exp(step) * start;
  const SixVector v0(0.002f, 0.004f, -0.006f, 0.0f, 0.01f, -0.02f);
  const SixVector v1 = updateVelocity(v0, start, moved);
  for (int i = 0; i < 6; ++i)
    EXPECT_NEAR(v1[i], (v0[i] * 0.5f + step[i] * 0.5f) * 0.9f, 2e-5f) << i;
  // Zero velocity predicts no motion; a velocity predicts its own exponential.
  const Mat44f same = predictPose(SixVector(), start);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(same.m[i], start.m[i], 1e-7f);
  const Mat44f predicted = predictPose(step, start);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(predicted.m[i], moved.m[i], 1e-6f);
}

TEST_F(TrackerTest, InitRejectsUnknownPixelFormats) {
  Tracker tracker;
  EXPECT_EQ(tracker.init(kWidth, kHeight, 2, nullptr), kTrackBadPixelFormat);
  EXPECT_EQ(tracker.init(kWidth, kHeight, -1, nullptr), kTrackBadPixelFormat);
  EXPECT_EQ(tracker.init(kWidth, kHeight, 1, nullptr), kTrackOk);
}

TEST_F(TrackerTest, FillResultWritesColumnMajorPoseScaledTranslationNameAndDistance) {
  writeDatabase(true, "{\"trackablename\":\"Astronaut\",\"other\":3}", 2.5f);
  Tracker tracker;
  ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
  // A blank frame loads the tracking data (target size) but finds no pose.
  std::vector<uint8_t> blank(kWidth * kHeight, 0);
  Trackable result;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(tracker.track(blank.data(), result, "", kRecognition), kTrackFailed);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("When (OrgImgId != ImgId) time: ", 0), 0u) << out;
  EXPECT_NE(out.find(" ms\n### Fail to initial pose estimation\n"), std::string::npos) << out;
  EXPECT_EQ(result.getName(), "__null");  // untouched
  EXPECT_EQ(result.getPose()[0], 0.0f);

  auto pose = std::make_shared<Matrix>(4, 4);
  const double values[16] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8,
                             0.9, 1.0, 1.1, 1.7, 0.0, 0.0, 0.0, 1.0};
  for (int i = 0; i < 16; ++i) (*pose)(i / 4, i % 4) = values[i];
  tracker.fillResult(result, pose, "astro");
  const float* p = result.getPose();
  EXPECT_EQ(p[0], 0.1f);
  EXPECT_EQ(p[1], 0.5f);
  EXPECT_EQ(p[2], 0.9f);
  EXPECT_EQ(p[4], 0.2f);
  EXPECT_EQ(p[6], 1.0f);
  EXPECT_EQ(p[9], 0.7f);
  EXPECT_EQ(p[12], 0.4f * 512.0f);
  EXPECT_EQ(p[13], 0.8f * 512.0f);
  EXPECT_EQ(p[14], 1.7f * 512.0f);
  EXPECT_EQ(p[15], 1.0f);
  EXPECT_EQ(result.getWidth(), 512.0f);
  EXPECT_EQ(result.getHeight(), 512.0f);
  EXPECT_EQ(result.getId(), "astro");
  EXPECT_EQ(result.getName(), "Astronaut");
  EXPECT_EQ(result.getDistance(), static_cast<float>(2.5f * 1.7));

  // The name is cached: a database that now says otherwise is not asked again.
  writeDatabase(true, "{\"TrackableName\":\"Other\"}", 2.5f);
  Trackable second;
  tracker.fillResult(second, pose, "astro");
  EXPECT_EQ(second.getName(), "Astronaut");
  // Unknown target: no name document, so neither name nor distance change.
  Trackable unknown;
  unknown.setDistance(-3.0f);
  tracker.fillResult(unknown, pose, "nobody");
  EXPECT_EQ(unknown.getName(), "__null");
  EXPECT_EQ(unknown.getDistance(), -3.0f);
  EXPECT_EQ(unknown.getId(), "nobody");
}

TEST_F(TrackerTest, DistanceUsesOneWithoutAHeaderValueAndBadJsonStopsEarly) {
  writeDatabase(true, "not json at all");
  Tracker tracker;
  ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
  auto pose = Matrix::identity(4);
  (*pose)(2, 3) = 3.0;
  Trackable result;
  result.setDistance(9.0f);
  tracker.fillResult(result, pose, "astro");
  EXPECT_EQ(result.getName(), "__null");
  EXPECT_EQ(result.getDistance(), 9.0f);

  writeDatabase(true, "{\"TrackableName\":\"A\"}");
  ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
  tracker.fillResult(result, pose, "astro");
  EXPECT_EQ(result.getDistance(), 7.5f);
  tracker.fillResult(result, pose, "elsewhere");  // not in the header values
  EXPECT_EQ(result.getName(), "A");               // no document for it
}

TEST_F(TrackerTest, BadRecognitionTextFailsWithoutTouchingState) {
  writeDatabase(true, "{\"TrackableName\":\"Astronaut\"}");
  Tracker tracker;
  ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
  std::vector<uint8_t> frame = render(viewPose({0, 0, 0}, {0, 0, 1.6f}));
  Trackable result;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(tracker.track(frame.data(), result, "", "{\"name\":\"astro\"}"), kTrackFailed);
  EXPECT_EQ(tracker.track(frame.data(), result, "", "{\"id\":}"), kTrackFailed);
  EXPECT_EQ(tracker.track(nullptr, result, "", kRecognition), kTrackFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(tracker.keyframeTargetId(), "");
  EXPECT_EQ(result.getId(), "");
}

TEST_F(TrackerTest, MissingTargetImageClearsTheKeyframeIdentifier) {
  writeDatabase(false, "{\"TrackableName\":\"Astronaut\"}");
  Tracker tracker;
  ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
  std::vector<uint8_t> frame = render(viewPose({0.1f, 0, 0}, {0, 0, 1.6f}));
  Trackable result;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(tracker.track(frame.data(), result, "", kRecognition), kDbMalformed);
  EXPECT_EQ(tracker.keyframeTargetId(), "");
  // The next frame tries a new initial pose instead of tracking a stale keyframe.
  EXPECT_EQ(tracker.track(frame.data(), result, "", kRecognition), kDbMalformed);
  const std::string out = ::testing::internal::GetCapturedStdout();
  // Tracking data were loaded once only.
  EXPECT_EQ(out.find("When"), out.rfind("When"));
  EXPECT_EQ(out.find("progressive"), std::string::npos);
}

TEST_F(TrackerTest, FollowsARenderedSequenceFromTheInitialPoseOn) {
  writeDatabase(true, "{\"TrackableName\":\"Astronaut\"}", 2.0f);
  Tracker tracker;
  ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
  ::testing::internal::CaptureStdout();
  const int frames = 12;
  for (int i = 0; i < frames; ++i) {
    const float s = static_cast<float>(i) / frames;
    const Mat44f truth = viewPose({0.25f * std::sin(3 * s), 0.2f * s, 0.1f * s},
                                  {0.06f * s, -0.04f * s, 1.6f + 0.2f * s});
    std::vector<uint8_t> frame = render(truth);
    Trackable result;
    ASSERT_EQ(tracker.track(frame.data(), result, "", kRecognition), kTrackOk) << "frame " << i;
    EXPECT_LT(cornerDistance(resultPose(result, 512.0f), truth), i == 0 ? 6.0f : 2.0f)
        << "frame " << i;
    EXPECT_EQ(tracker.keyframeTargetId(), "astro");
    EXPECT_EQ(result.getName(), "Astronaut");
    EXPECT_NEAR(result.getDistance(), 2.0f * truth(2, 3), i == 0 ? 0.1f : 0.02f);
  }
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("When"), out.rfind("When"));  // loaded once
  EXPECT_EQ(out.find("Fail"), std::string::npos) << out;
}

}  // namespace
}  // namespace vornik
