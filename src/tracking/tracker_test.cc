#include "tracking/tracker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "database/group_file_writer.h"
#include "database/jpeg_writer.h"
#include "features/feature_extractor.h"
#include "features/test_photos.h"
#include "tracking/patch_search.h"
#include "tracking/se3.h"
#include "tracking/test_images.h"

namespace vornik {
namespace {

using testing_images::cornerDistance;
using testing_images::loadGrayJpeg;
using testing_images::renderPlane;
using testing_images::viewPose;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
const std::string kRecognition = "{\"id\":\"astro\",\"score\":42}";
const std::string kInfo = "{\"TrackableName\":\"Astronaut\"}";

// The pose a result reports, back from column-major with the translation
// out of the 512-pixel target's pixels.
Mat44f reportedPose(const Trackable& result) {
  Mat44f pose;
  for (int k = 0; k < 16; ++k)
    pose(k % 4, k / 4) = result.getPose()[k] / (k > 11 && k < 15 ? 512 : 1);
  return pose;
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
    std::ifstream in(photo, std::ios::binary);
    jpeg_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void writeDatabase(const std::string& json = kInfo, float headerValue = 2.5f,
                     bool withImage = true, const std::vector<uint8_t>* image = nullptr) {
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
    if (withImage) writer.addEntry("astro.jpg", image ? *image : jpeg_);
    writer.addEntry("astro.json", json);
    ASSERT_TRUE(writer.writeFile(dir_ + "/test.db"));
    database_ = std::make_shared<ArdbMngr>();
    database_->setArdbAssetDirPath(dir_);
    database_->loadTrackerData(dir_ + "/appdata", {"test.db"});
  }

  std::vector<uint8_t> render(const Mat44f& pose, const GrayImage* target = nullptr) {
    // The patch grid's flat grey runs on into the background.
    auto image = target ? renderPlane(*target, pose, kWidth, kHeight, 170)
                        : renderPlane(*target_, pose, kWidth, kHeight);
    return std::vector<uint8_t>(image->pixels.get(), image->pixels.get() + kWidth * kHeight);
  }

  // A fresh tracker's initial pose on a grey frame under `options`: the
  // track code, and the corner error against `truth` when it succeeded.
  int initialPose(const uint8_t* view, const InitialPoseOptions& options, const Mat44f& truth,
                  float* error, const VoteRegion& votes = VoteRegion()) {
    Tracker tracker;
    EXPECT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
    tracker.setInitialPoseOptions(options);
    tracker.setVoteRegion(votes);
    Trackable result;
    ::testing::internal::CaptureStdout();
    const int code = tracker.track(view, result, "", kRecognition);
    ::testing::internal::GetCapturedStdout();
    if (code == kTrackOk) *error = cornerDistance(reportedPose(result), truth);
    return code;
  }

  std::string dir_;
  std::unique_ptr<GrayImage> target_;
  std::vector<uint8_t> jpeg_;
  std::shared_ptr<ArdbMngr> database_;
};

TEST(ExtractTargetId, TakesTheQuotedValueAfterTheFirstIdKey) {
  std::string id;
  // The last: the first quoted text after the colon, wherever it is.
  for (const auto& good : {std::make_pair("{\"id\":\"poster\",\"n\":5}", "poster"),
                           std::make_pair("{\"x\":1, \"id\" :  \"a b\", \"id\":\"c\"}", "a b"),
                           std::make_pair("\"id\": 7, \"name\":\"late\"", "name")}) {
    EXPECT_TRUE(extractTargetId(good.first, &id)) << good.first;
    EXPECT_EQ(id, good.second);
  }
  id = "kept";
  for (const char* bad : {"", "{\"name\":\"x\"}", "{\"id\" \"x\"}", "{\"id\":5}", "{\"id\":\"open",
                          "{\"id\":\"\"}", "{id:\"x\"}"}) {
    EXPECT_FALSE(extractTargetId(bad, &id)) << bad;
    EXPECT_EQ(id, "kept");
  }
}

// Steady motion is extrapolated, the lag shrinking as the velocity builds up;
// once the motion stops the prediction settles back on the standing pose.
TEST(MotionModel, ExtrapolatesSteadyMotionAndSettlesWhenItStops) {
  Mat44f pose = viewPose({0.1f, 0.2f, -0.1f}, {0.1f, -0.05f, 1.5f});
  const SixVector step(0.01f, -0.008f, 0.02f, 0.01f, -0.015f, 0.02f);
  SixVector velocity;
  const float stepLength = cornerDistance(se3Exp(step) * pose, pose);
  ASSERT_GT(stepLength, 10.0f);
  float lag = stepLength + 1e-3f;
  for (int i = 0; i < 20; ++i) {
    const Mat44f next = se3Exp(step) * pose;
    const float now = cornerDistance(predictPose(velocity, pose), next);
    EXPECT_LT(now, lag) << i;
    lag = now;
    velocity = updateVelocity(velocity, pose, next);
    pose = next;
  }
  EXPECT_LT(lag, 0.5f * stepLength);
  for (int i = 0; i < 40; ++i) velocity = updateVelocity(velocity, pose, pose);
  EXPECT_LT(cornerDistance(predictPose(velocity, pose), pose), 0.02f);
}

TEST_F(TrackerTest, FillResultWritesColumnMajorPoseScaledTranslationNameAndDistance) {
  writeDatabase("{\"trackablename\":\"Astronaut\",\"other\":3}");
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
  // Column-major, translation in target pixels.
  const float expected[16] = {
      0.1f, 0.5f, 0.9f, 0.0f, 0.2f,       0.6f,       1.0f,       0.0f,  // two columns a row
      0.3f, 0.7f, 1.1f, 0.0f, 0.4f * 512, 0.8f * 512, 1.7f * 512, 1.0f};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(result.getPose()[i], expected[i]) << i;
  EXPECT_EQ(result.getWidth(), 512.0f);
  EXPECT_EQ(result.getHeight(), 512.0f);
  EXPECT_EQ(result.getId(), "astro");
  EXPECT_EQ(result.getName(), "Astronaut");
  EXPECT_EQ(result.getDistance(), static_cast<float>(2.5f * 1.7));

  // The name is cached: a database that now says otherwise is not asked again.
  writeDatabase("{\"TrackableName\":\"Other\"}");
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
  // Nor when the document does not parse (init forgets the cached name).
  writeDatabase("not json at all");
  ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
  tracker.fillResult(unknown, pose, "astro");
  EXPECT_EQ(unknown.getName(), "__null");
  EXPECT_EQ(unknown.getDistance(), -3.0f);
}

// Unknown pixel formats are refused; without an init, a frame or an
// identifier in the recognition text nothing is loaded or tracked. Without a
// target image a posed frame fails and leaves no keyframe identifier: the
// next frame tries a new initial pose instead of tracking a stale keyframe.
TEST_F(TrackerTest, BadInputOrAMissingTargetImageLeavesNoKeyframe) {
  writeDatabase(kInfo, 2.5f, false);
  Tracker tracker;
  std::vector<uint8_t> frame = render(viewPose({0.1f, 0, 0}, {0, 0, 1.6f}));
  Trackable result;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(tracker.init(kWidth, kHeight, 2, database_), kTrackBadPixelFormat);
  EXPECT_EQ(tracker.init(kWidth, kHeight, -1, database_), kTrackBadPixelFormat);
  EXPECT_EQ(tracker.track(frame.data(), result, "", kRecognition), kTrackFailed);
  ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
  EXPECT_EQ(tracker.track(frame.data(), result, "", "{\"name\":\"astro\"}"), kTrackFailed);
  EXPECT_EQ(tracker.track(frame.data(), result, "", "{\"id\":}"), kTrackFailed);
  EXPECT_EQ(tracker.track(nullptr, result, "", kRecognition), kTrackFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(tracker.keyframeTargetId(), "");
  EXPECT_EQ(result.getId(), "");

  ::testing::internal::CaptureStdout();
  EXPECT_EQ(tracker.track(frame.data(), result, "", kRecognition), kDbMalformed);
  EXPECT_EQ(tracker.keyframeTargetId(), "");
  EXPECT_EQ(tracker.track(frame.data(), result, "", kRecognition), kDbMalformed);
  const std::string out = ::testing::internal::GetCapturedStdout();
  // Tracking data were loaded once only.
  EXPECT_EQ(out.find("When"), out.rfind("When"));
  EXPECT_EQ(out.find("progressive"), std::string::npos);
}

// The same camera frames as three blue-green-red bytes per pixel (format 0)
// and as their exact grey conversion (format 1) give the same poses.
TEST_F(TrackerTest, FollowsARenderedSequenceInColourAndGrey) {
  writeDatabase(kInfo, 2.0f);
  const auto photo = testing_photos::loadPhoto(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg");
  ASSERT_EQ(photo.bgr.size(), static_cast<size_t>(3 * 512 * 512));
  std::vector<std::unique_ptr<GrayImage>> channels;
  for (int c = 0; c < 3; ++c) {
    channels.push_back(std::make_unique<GrayImage>(photo.width, photo.height));
    for (int i = 0; i < photo.width * photo.height; ++i)
      channels[c]->pixels[i] = photo.bgr[3 * i + c];
  }
  Tracker grey, colour;
  ASSERT_EQ(grey.init(kWidth, kHeight, 1, database_), kTrackOk);
  ASSERT_EQ(colour.init(kWidth, kHeight, 0, database_), kTrackOk);
  std::string out;
  const int frames = 12;
  for (int i = 0; i < frames; ++i) {
    const float s = static_cast<float>(i) / frames;
    const Mat44f truth = viewPose({0.25f * std::sin(3 * s), 0.2f * s, 0.1f * s},
                                  {0.06f * s, -0.04f * s, 1.6f + 0.2f * s});
    std::vector<uint8_t> bgr(3 * kWidth * kHeight);
    for (int c = 0; c < 3; ++c) {
      const auto view = renderPlane(*channels[c], truth, kWidth, kHeight);
      for (int p = 0; p < kWidth * kHeight; ++p) bgr[3 * p + c] = view->pixels[p];
    }
    const GrayImage converted(kWidth, kHeight, bgr.data(), true);
    Trackable result, colourResult;
    ::testing::internal::CaptureStdout();
    const int greyCode = grey.track(converted.pixels.get(), result, "", kRecognition);
    const int colourCode = colour.track(bgr.data(), colourResult, "", kRecognition);
    out += ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(greyCode, kTrackOk) << i;
    ASSERT_EQ(colourCode, kTrackOk) << i;
    for (int k = 0; k < 16; ++k) EXPECT_EQ(colourResult.getPose()[k], result.getPose()[k]) << i;
    const Mat44f pose = reportedPose(result);
    EXPECT_LT(cornerDistance(pose, truth), i == 0 ? 6.0f : 2.0f) << "frame " << i;
    EXPECT_NEAR(result.getDistance(), 2.0f * truth(2, 3), i == 0 ? 0.1f : 0.02f);
  }
  // Each tracker loaded the tracking data once.
  size_t loads = 0;
  for (size_t at = out.find("When"); at != std::string::npos; at = out.find("When", at + 1))
    ++loads;
  EXPECT_EQ(loads, 2u);
}

// The target backs off from 62 % of the frame width to 11 %. As described,
// tracking ends near a quarter of the width (the search would need a level
// two steps finer than the frame's base); with a keyframe level range of 2
// the templates come from coarser keyframe levels and every frame is held.
TEST_F(TrackerTest, KeyframeLevelRangeKeepsARecedingTargetTracked) {
  writeDatabase(kInfo, 2.0f);
  Tracker described, ranged;
  ASSERT_EQ(described.init(kWidth, kHeight, 1, database_), kTrackOk);
  ASSERT_EQ(ranged.init(kWidth, kHeight, 1, database_), kTrackOk);
  ranged.setKeyframeLevelRange(2);
  const int frames = 48;
  int describedLostAt = -1;
  float worst = 0;
  std::vector<float> farErrors;
  for (int i = 0; i < frames; ++i) {
    const float s = static_cast<float>(i) / (frames - 1);
    const float depth = 1.6f * std::pow(9.0f / 1.6f, s);
    const Mat44f truth = viewPose({0.2f, 0.1f, 0.05f + 0.1f * s}, {0.02f, -0.01f, depth});
    const std::vector<uint8_t> frame = render(truth);
    Trackable result, rangedResult;
    ::testing::internal::CaptureStdout();
    const int code = described.track(frame.data(), result, "", kRecognition);
    const int rangedCode = ranged.track(frame.data(), rangedResult, "", kRecognition);
    ::testing::internal::GetCapturedStdout();
    if (code != kTrackOk && describedLostAt < 0) describedLostAt = i;
    ASSERT_EQ(rangedCode, kTrackOk) << "frame " << i << " at depth " << depth;
    const Mat44f pose = reportedPose(rangedResult);
    // The first pose is the homography's, whole pixels off.
    if (i > 0) worst = std::max(worst, cornerDistance(pose, truth));
    if (describedLostAt >= 0) farErrors.push_back(cornerDistance(pose, truth));
  }
  EXPECT_LT(worst, 2.0f);
  // Beyond the described reach the far points are searched on their own
  // levels, not one step up where the target spans a quarter of the pixels:
  // a tenth of a pixel there (about 0.3 px when they were raised).
  ASSERT_FALSE(farErrors.empty());
  std::nth_element(farErrors.begin(), farErrors.begin() + farErrors.size() / 2, farErrors.end());
  EXPECT_LT(farErrors[farErrors.size() / 2], 0.2f);
  // Lost once the target is under about a fifth of the width (depth 5).
  EXPECT_GT(describedLostAt, 20);
  EXPECT_LT(describedLostAt, 40);
}

// The coarse stage's keyframe matches, found one level up, are what holds a
// moving target's pose; searched again on their own level they are about
// twice as precise.
TEST_F(TrackerTest, CoarseRefinementMakesAMovingTargetsPoseMorePrecise) {
  writeDatabase(kInfo, 2.0f);
  Tracker described, refined;
  ASSERT_EQ(described.init(kWidth, kHeight, 1, database_), kTrackOk);
  ASSERT_EQ(refined.init(kWidth, kHeight, 1, database_), kTrackOk);
  refined.setCoarseRefinement(true);
  std::vector<float> errors[2];
  for (int i = 0; i < 40; ++i) {
    const float t = 0.05f * i;
    const Mat44f truth = viewPose({0.25f * std::sin(t), 0.2f * std::cos(1.3f * t), 0.1f * t},
                                  {0.1f * std::sin(0.7f * t), 0.05f * t - 0.1f, 1.6f + 0.2f * t});
    const std::vector<uint8_t> frame = render(truth);
    Tracker* trackers[2] = {&described, &refined};
    for (int k = 0; k < 2; ++k) {
      Trackable result;
      ::testing::internal::CaptureStdout();
      const int code = trackers[k]->track(frame.data(), result, "", kRecognition);
      ::testing::internal::GetCapturedStdout();
      ASSERT_EQ(code, kTrackOk) << "frame " << i << " tracker " << k;
      const Mat44f pose = reportedPose(result);
      // The first pose is the homography's, whole pixels off.
      if (i > 1) errors[k].push_back(cornerDistance(pose, truth));
    }
  }
  float medians[2];
  for (int k = 0; k < 2; ++k) {
    std::nth_element(errors[k].begin(), errors[k].begin() + errors[k].size() / 2, errors[k].end());
    medians[k] = errors[k][errors[k].size() / 2];
  }
  // Medians of about 0.75 and 0.46 px.
  EXPECT_LT(medians[1], 0.75f * medians[0]);
  EXPECT_LT(medians[1], 0.55f);
}

// A hand covers three fifths of the target from the third frame on. The
// first 35 coarse points then mostly fall on it and too few are found, so
// the described tracker loses the target; with further batches the points
// on the uncovered third hold it, as precisely as before.
TEST_F(TrackerTest, CoarseBatchesKeepAPartlyCoveredTargetTracked) {
  writeDatabase(kInfo, 2.0f);
  Tracker described, batched;
  ASSERT_EQ(described.init(kWidth, kHeight, 1, database_), kTrackOk);
  ASSERT_EQ(batched.init(kWidth, kHeight, 1, database_), kTrackOk);
  batched.setCoarseBatches(4);
  int describedFailures = 0;
  for (int i = 0; i < 10; ++i) {
    const Mat44f truth = viewPose({0.1f, 0.02f * i, 0.01f * i}, {0.005f * i, 0.0f, 1.6f});
    std::vector<uint8_t> frame = render(truth);
    // The target spans about x 120..520; the hand ends at x 360.
    if (i >= 2) {
      for (int y = 0; y < kHeight; ++y) std::fill_n(frame.begin() + y * kWidth, 360, 60);
    }
    Trackable result, batchedResult;
    ::testing::internal::CaptureStdout();
    if (described.track(frame.data(), result, "", kRecognition) != kTrackOk) ++describedFailures;
    const int code = batched.track(frame.data(), batchedResult, "", kRecognition);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(code, kTrackOk) << "frame " << i;
    // The first pose is the homography's, whole pixels off. Later ones are
    // at worst about 1.7 px off: the uncovered part alone holds the far corners.
    if (i > 0) {
      EXPECT_LT(cornerDistance(reportedPose(batchedResult), truth), 3.0f) << i;
    }
  }
  EXPECT_GT(describedFailures, 0);
}

// The coarse search on the calling thread gives the poses of the threaded
// one bit for bit: every point is searched on its own.
TEST_F(TrackerTest, SearchThreadsDoNotChangeThePoses) {
  writeDatabase(kInfo, 2.0f);
  Tracker threaded, onCaller;
  ASSERT_EQ(threaded.init(kWidth, kHeight, 1, database_), kTrackOk);
  ASSERT_EQ(onCaller.init(kWidth, kHeight, 1, database_), kTrackOk);
  onCaller.setSearchThreads(0);
  for (int i = 0; i < 8; ++i) {
    const std::vector<uint8_t> frame =
        render(viewPose({0.1f, 0.03f * i, 0.02f}, {0.01f * i, -0.005f * i, 1.6f + 0.05f * i}));
    Trackable a, b;
    ::testing::internal::CaptureStdout();
    const int codeA = threaded.track(frame.data(), a, "", kRecognition);
    const int codeB = onCaller.track(frame.data(), b, "", kRecognition);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(codeA, kTrackOk) << i;
    ASSERT_EQ(codeB, kTrackOk) << i;
    for (int k = 0; k < 16; ++k) EXPECT_EQ(a.getPose()[k], b.getPose()[k]) << i << " " << k;
  }
}

// After a loss the same target is acquired again from its keyframe in place:
// the poses are those of a fresh tracker, even with the group file gone;
// init drops that keyframe.
TEST_F(TrackerTest, ReacquiringTheSameTargetReusesItsKeyframe) {
  writeDatabase(kInfo, 2.0f);
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < 5; ++i)
    frames.push_back(render(viewPose({0.1f, 0.05f * i, 0}, {0.02f * i, 0, 1.6f})));
  auto run = [&](Tracker& tracker, std::vector<float>* poses) {
    for (const auto& f : frames) {
      Trackable result;
      ASSERT_EQ(tracker.track(f.data(), result, "", kRecognition), kTrackOk);
      poses->insert(poses->end(), result.getPose(), result.getPose() + 16);
    }
  };
  ::testing::internal::CaptureStdout();
  Tracker fresh, reused;
  ASSERT_EQ(fresh.init(kWidth, kHeight, 1, database_), kTrackOk);
  ASSERT_EQ(reused.init(kWidth, kHeight, 1, database_), kTrackOk);
  std::vector<float> expected, first, again;
  run(fresh, &expected);
  run(reused, &first);
  std::filesystem::remove(dir_ + "/test.db");
  reused.setKeyframeTargetId("");
  run(reused, &again);
  EXPECT_EQ(first, expected);
  EXPECT_EQ(again, expected);
  // A database without the image: after init the keyframe must be built anew.
  writeDatabase(kInfo, 2.0f, false);
  ASSERT_EQ(reused.init(kWidth, kHeight, 1, database_), kTrackOk);
  Trackable result;
  EXPECT_EQ(reused.track(frames[0].data(), result, "", kRecognition), kDbMalformed);
  ::testing::internal::GetCapturedStdout();
}

// The opt-in refinement turns the homography's pose, which rests on features
// of a 2-pixel grid, into the patch search's sub-pixel one.
TEST_F(TrackerTest, RefinedInitialPoseIsSubPixel) {
  writeDatabase(kInfo, 2.0f);
  const auto photo = testing_photos::loadPhoto(std::string(VORNIK_DATA_DIR) + "/sample_target.jpg");
  GrayImage target(photo.width, photo.height, photo.bgr.data(), true);
  const Mat44f views[] = {viewPose({0.3f, -0.2f, 0.4f}, {0.05f, -0.03f, 1.7f}),
                          viewPose({-0.2f, 0.2f, -0.4f}, {-0.05f, 0.03f, 1.8f}),
                          viewPose({0.1f, 0.1f, 0.8f}, {0.0f, 0.04f, 2.0f})};
  for (const Mat44f& truth : views) {
    const auto view = renderPlane(target, truth, kWidth, kHeight);
    float errors[2] = {0.0f, 0.0f};
    for (int refine = 0; refine < 2; ++refine) {
      InitialPoseOptions options;
      options.refine = refine == 1;
      ASSERT_EQ(initialPose(view->pixels.get(), options, truth, &errors[refine]), kTrackOk)
          << refine;
    }
    std::printf("corner error %.2f px, refined %.2f px\n", errors[0], errors[1]);
    EXPECT_LT(errors[1], 1.5f);
    EXPECT_LE(errors[1], errors[0]);
  }
}

// The database holds the target's features at its own 512-pixel size. Far
// enough away they fall below the frame's finest response layer: the frame
// then gives no pose, and only the opt-in retry on the doubled frame poses
// the target. Where the frame itself poses it, the retry never runs.
// The whole frame doubled, and the window around the recognizer's votes
// doubled or quadrupled, on ever smaller targets. Frames posed at once keep
// their pose.
TEST_F(TrackerTest, EnlargedRetriesPoseASmallTarget) {
  writeDatabase(kInfo, 2.0f);
  struct Case {
    float distance;  // the target spans 640 / distance pixels
    bool posed[4];   // plain, frame doubled, vote window 2, vote window 4
  };
  for (const Case& c :
       {Case{3, {true, true, true, true}}, Case{5, {false, true, true, true}},
        Case{8, {false, false, false, true}}, Case{10, {false, false, false, true}}}) {
    const Mat44f truth = viewPose({0.2f, -0.1f, 0.3f}, {0.03f, -0.02f, c.distance});
    const std::vector<uint8_t> view = render(truth);
    // The votes' median lies near the target's centre, not on it.
    VoteRegion votes;
    votes.voters = 9;
    votes.x = kWidth * 0.03f / c.distance + kWidth / 2 + 12.0f;
    votes.y = kWidth * -0.02f / c.distance + kHeight / 2 - 9.0f;
    float errors[4] = {-1, -1, -1, -1};
    for (int k = 0; k < 4; ++k) {
      InitialPoseOptions options;
      options.retryEnlarged = k == 1;
      options.voteWindowEnlargement = k == 2 ? 2 : (k == 3 ? 4 : 0);
      const int code = initialPose(view.data(), options, truth, &errors[k], votes);
      EXPECT_EQ(code == kTrackOk, c.posed[k]) << c.distance << " " << k;
      if (c.posed[k]) {
        EXPECT_LT(errors[k], 4.0f) << c.distance << " " << k;
      }
      if (c.posed[0]) {
        EXPECT_EQ(errors[k], errors[0]) << c.distance;
      }
    }
  }
}

// With the agreement check on, a right pose passes exactly as it was
// refined (with the rigid fit, the best scored of its consensuses' poses);
// a bar that no pose reaches refuses the first estimate and then the retry
// on the doubled frame, once each, and leaves no keyframe target behind.
TEST_F(TrackerTest, InitialPoseAgreementPassesRightPosesAndRefusesBelowItsBar) {
  writeDatabase(kInfo, 2.0f);
  for (const float distance : {2.0f, 5.0f, -2.0f, -5.0f}) {
    const bool fit = distance < 0.0f;
    const Mat44f truth = viewPose({0.2f, -0.1f, 0.3f}, {0.03f, -0.02f, std::fabs(distance)});
    const std::vector<uint8_t> view = render(truth);
    InitialPoseOptions options;
    options.refine = true;
    options.retryEnlarged = true;
    options.rigidFit = fit;
    options.consensusRetries = fit ? 2 : 0;
    float plain = -1.0f;
    ASSERT_EQ(initialPose(view.data(), options, truth, &plain), kTrackOk) << distance;
    options.minAgreement = 0.5f;
    float confirmed = -1.0f;
    ASSERT_EQ(initialPose(view.data(), options, truth, &confirmed), kTrackOk) << distance;
    if (!fit) {
      EXPECT_EQ(confirmed, plain) << distance;
    }
    EXPECT_LT(confirmed, 1.5f) << distance;
    // A second look that no pose satisfies tries every image and still
    // keeps the best pose found.
    options.secondLookAgreement = 1.0f;
    float looked = -1.0f;
    ASSERT_EQ(initialPose(view.data(), options, truth, &looked), kTrackOk) << distance;
    EXPECT_LT(looked, 1.5f) << distance;
    options.secondLookAgreement = 0.0f;

    options.minAgreement = 1.0f;
    Tracker tracker;
    ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
    tracker.setInitialPoseOptions(options);
    Trackable result;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(tracker.track(view.data(), result, "", kRecognition), kTrackFailed) << distance;
    const std::string log = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(tracker.keyframeTargetId().empty()) << distance;
    size_t refusals = 0;
    for (size_t at = log.find("### Initial pose refused"); at != std::string::npos;
         at = log.find("### Initial pose refused", at + 1)) {
      ++refusals;
    }
    // At 2 the frame and its doubling both give a pose; at 5 only the
    // doubling. With the fit, one refusal stands for all the consensuses.
    EXPECT_EQ(refusals, std::fabs(distance) < 3.0f ? 2u : 1u) << distance << "\n" << log;
  }
}

TEST_F(TrackerTest, CandidatesArePosedInTurnEachFromItsOwnVotes) {
  writeDatabase(kInfo, 2.0f);
  // Only the quarter window around the votes poses a target this far.
  const float distance = 8.0f;
  const Mat44f truth = viewPose({0.2f, -0.1f, 0.3f}, {0.03f, -0.02f, distance});
  const std::vector<uint8_t> view = render(truth);
  const VoteRegion onTarget{9, kWidth * 0.03f / distance + kWidth / 2 + 12.0f,
                            kWidth * -0.02f / distance + kHeight / 2 - 9.0f};
  const VoteRegion inACorner{9, 40.0f, 40.0f};
  struct Case {
    const char* name;
    std::vector<RecognitionCandidate> candidates;
    int posed;  // index, -1: none
  };
  const Case cases[] = {
      {"a target the database lacks, then the right one",
       {{"missing", 9, onTarget}, {"astro", 4, onTarget}},
       1},
      {"the right target from votes elsewhere", {{"astro", 9, inACorner}}, -1},
      // The frame's features serve both tries; the windows are cut afresh.
      {"the right target from votes elsewhere, then from its own",
       {{"astro", 9, inACorner}, {"astro", 4, onTarget}},
       1},
      {"none", {}, -1},
      {"only a missing one", {{"missing", 9, onTarget}}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tracker tracker;
    ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
    InitialPoseOptions options;
    options.voteWindowEnlargement = 4;
    tracker.setInitialPoseOptions(options);
    Trackable result;
    size_t posed = 99;
    ::testing::internal::CaptureStdout();
    const int code = tracker.trackCandidates(view.data(), result, c.candidates, &posed);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(code == kTrackOk, c.posed >= 0);
    if (c.posed < 0) {
      EXPECT_EQ(posed, 99u);
      EXPECT_EQ(tracker.keyframeTargetId(), "");
      continue;
    }
    EXPECT_EQ(posed, static_cast<size_t>(c.posed));
    EXPECT_LT(cornerDistance(reportedPose(result), truth), 4.0f);
    // Tracking goes on from the posed target's keyframe.
    EXPECT_EQ(tracker.keyframeTargetId(), "astro");
    EXPECT_EQ(result.getId(), "astro");
    // One target at a time, each described afresh: the same draws and pose.
    Tracker reference;
    ASSERT_EQ(reference.init(kWidth, kHeight, 1, database_), kTrackOk);
    reference.setInitialPoseOptions(options);
    Trackable referenceResult;
    ::testing::internal::CaptureStdout();
    for (const RecognitionCandidate& candidate : c.candidates) {
      reference.setVoteRegion(candidate.region);
      if (reference.track(view.data(), referenceResult, "",
                          "{\"id\":\"" + candidate.name + "\"}") == kTrackOk) {
        break;
      }
    }
    ::testing::internal::GetCapturedStdout();
    for (int k = 0; k < 16; ++k) EXPECT_EQ(referenceResult.getPose()[k], result.getPose()[k]) << k;
  }
}

// A keyframe of 16 small patches (20 corners, so every point joins the coarse
// set and the fine set is empty). In the second frame each patch moved on its
// own: the coarse stage finds them all but ends without an inlier, so the
// fine stage has nothing to measure. Seed 7 is a frozen input that gets there
// from this initial pose. The failed frame must leave pose and motion model
// as they were: the next frame then tracks exactly as if it had not happened.
TEST_F(TrackerTest, FineStageWithoutFoundPointsFailsAndChangesNothing) {
  const std::unique_ptr<GrayImage> grid = testing_images::patchGrid(*target_);
  std::vector<uint8_t> keyframeJpeg;
  ASSERT_TRUE(encodeJpeg(grid->pixels.get(), grid->width, grid->height, 1, 100, keyframeJpeg));
  writeDatabase(kInfo, 2.0f, true, &keyframeJpeg);
  const Mat44f truth = viewPose({0.1f, -0.05f, 0.02f}, {0.01f, 0.0f, 1.6f});
  const std::vector<uint8_t> initial = render(truth);
  const std::vector<uint8_t> scattered =
      render(truth, testing_images::patchGrid(*target_, 26.0f, 7).get());
  const std::vector<uint8_t> clean = render(truth, grid.get());

  Tracker tracker, undisturbed;
  ASSERT_EQ(tracker.init(kWidth, kHeight, 1, database_), kTrackOk);
  ASSERT_EQ(undisturbed.init(kWidth, kHeight, 1, database_), kTrackOk);
  Trackable result, reference;
  ::testing::internal::CaptureStdout();
  const int codes[5] = {tracker.track(initial.data(), result, "", kRecognition),
                        undisturbed.track(initial.data(), reference, "", kRecognition),
                        tracker.track(scattered.data(), result, "", kRecognition),
                        tracker.track(clean.data(), result, "", kRecognition),
                        undisturbed.track(clean.data(), reference, "", kRecognition)};
  const std::string out = ::testing::internal::GetCapturedStdout();
  const int expected[5] = {kTrackOk, kTrackOk, kTrackFailed, kTrackOk, kTrackOk};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(codes[i], expected[i]) << i;
  EXPECT_NE(out.find("fail due to no found point in the fine stage\n### Fail to progressive pose "
                     "estimation\n"),
            std::string::npos);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(result.getPose()[i], reference.getPose()[i]) << i;
}

// The database holds the frontal target's features. From about 60 degrees
// of tilt the frame's features no longer match them; the frame squeezed
// across the foreshortening still poses the target. Where the frame itself
// poses it, the squeezed frames never run.
TEST_F(TrackerTest, TiltViewsPoseASteepTarget) {
  writeDatabase(kInfo, 2.0f);
  constexpr float kDegree = 3.14159265f / 180.0f;
  struct Case {
    Vector3F rotation;
    bool plainPosed;
  };
  for (const Case& c :
       {Case{{0.0f, 40.0f * kDegree, 0.3f}, true}, Case{{60.0f * kDegree, 0.0f, 0.3f}, false},
        Case{{46.0f * kDegree, 46.0f * kDegree, 0.0f}, false}}) {
    const Mat44f truth = viewPose(c.rotation, {0.03f, -0.02f, 1.6f});
    const std::vector<uint8_t> view = render(truth);
    float errors[2] = {-1.0f, -1.0f};
    for (int tilted = 0; tilted < 2; ++tilted) {
      InitialPoseOptions options;
      options.refine = true;
      options.minAgreement = 0.3f;
      options.tiltViews = tilted == 1;
      const int code = initialPose(view.data(), options, truth, &errors[tilted]);
      EXPECT_EQ(code == kTrackOk, tilted == 1 || c.plainPosed) << c.rotation[0] << " " << tilted;
    }
    EXPECT_LT(errors[1], 1.5f) << c.rotation[0];
    EXPECT_GE(errors[1], 0.0f) << c.rotation[0];
    if (c.plainPosed) {
      EXPECT_EQ(errors[1], errors[0]) << c.rotation[0];
    }
  }
}

}  // namespace
}  // namespace vornik
