// The recognizer on frames rendered from the bundled sample target, with a
// database made by the builder, directly and through the AR manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "builder/database_builder.h"
#include "common/image_io.h"
#include "common/synthetic_view.h"
#include "common/view_geometry.h"
#include "manager/ar_manager.h"
#include "manager/candidate_acquisition.h"
#include "manager/profiler.h"
#include "manager/tracking_engines.h"
#include "recognition/recognizer.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

constexpr char kTargetName[] = "poster01";
constexpr char kGroupFile[] = "sample.db";

struct Sample {
  fs::path dir;
  Image target;
};

// The sample target's group file, built on first use; CTest runs each case
// as its own process, in parallel: one folder each.
const Sample& sample() {
  static const Sample built = [] {
    Sample s;
    s.dir = fs::path(VORNIK_BINARY_DIR) / "recognition_test_tmp" /
            ("sample_" + std::to_string(getpid()));
    fs::remove_all(s.dir);
    fs::create_directories(s.dir);
    TargetSpec spec;
    spec.imagePath = std::string(VORNIK_DATA_DIR) + "/sample_target.jpg";
    spec.targetName = kTargetName;
    spec.displayName = "Sample";
    BuildOptions options;
    // Fewer views than the tool's default keep the suite quick.
    options.trainingViews = 48;
    std::vector<BuiltTarget> targets;
    std::string error;
    EXPECT_TRUE(readImage(spec.imagePath, &s.target, &error) &&
                buildDatabase({spec}, options, (s.dir / kGroupFile).string(), BuildProgress(),
                              &targets, &error))
        << error;
    return s;
  }();
  return built;
}

std::shared_ptr<ArdbMngr> loadSample(const std::string& appDir) {
  auto database = std::make_shared<ArdbMngr>();
  database->setArdbAssetDirPath(sample().dir.string());
  ::testing::internal::CaptureStdout();
  database->loadTrackerData((sample().dir / appDir).string(), {kGroupFile});
  ::testing::internal::GetCapturedStdout();
  return database;
}

Image render(const ViewParams& params, int width = 640, int height = 480, uint32_t seed = 3,
             FrameTruth* truth = nullptr) {
  static const Image clutter = makeClutter(640, 480, 5);
  ViewOptions look;
  look.camera.width = width;
  look.camera.height = height;
  look.background = &clutter;
  look.noiseSigma = 1.5;
  look.seed = seed;
  RenderedView view;
  std::string error;
  EXPECT_TRUE(renderView(sample().target, poseFromView(params, look.camera), look, &view, &error))
      << error;
  if (truth != nullptr) *truth = view.truth;
  return view.frame;
}

ViewParams view(double tilt, double widthFraction, double rotation = 0.0) {
  ViewParams p;
  p.tiltDeg = tilt;
  p.tiltDirectionDeg = 30.0;
  p.widthFraction = widthFraction;
  p.rotationDeg = rotation;
  return p;
}

const std::string kExpectedText = "{[{\"id\":\"poster01\"}]}";

TEST(RecognizerPipeline, RecognisesRenderedViewsInColourAndGreyAndTimesFiveStages) {
  Recognizer recognizer, disc;
  ASSERT_EQ(recognizer.init(loadSample("app_views")), 0);
  ASSERT_EQ(disc.init(loadSample("app_disc")), 0);
  RecognitionOptions discOptions;
  discOptions.voteDiscPercent = 22;
  disc.setOptions(discOptions);
  // Counted within a disc, a target's votes are a subset of its votes: the
  // disc keeps what lies together, here most views, with the region on
  // the target (its own timers are cleared before the plain recognizer's).
  const ViewParams views[] = {view(0, 0.6),      view(15, 0.5, 20), view(30, 0.7, -35),
                              view(10, 0.9, 90), view(25, 0.4, 10), view(35, 0.55, 160)};
  std::vector<int32_t> discStatus;
  std::vector<VoteRegion> discRegions;
  for (const ViewParams& v : views) {
    const Image frame = render(v, 640, 480, 3);
    std::string text;
    discStatus.push_back(
        disc.recognize(frame.width, frame.height, 0, frame.pixels.data(), text, ""));
    discRegions.push_back(disc.winnerRegion());
  }
  EXPECT_GE(std::count(discStatus.begin(), discStatus.end(), kRecognized), 4);
  clearTimers();
  size_t index = 0;
  int recognised = 0;
  for (const ViewParams& v : views) {
    FrameTruth truth;
    const Image frame = render(v, 640, 480, 3, &truth);
    std::string result = "old";
    const int32_t status =
        recognizer.recognize(frame.width, frame.height, 0, frame.pixels.data(), result, "");
    recognised += status == kRecognized;
    EXPECT_TRUE(status == kRecognized || status == kNotRecognized) << status;
    EXPECT_EQ(result, status == kRecognized ? kExpectedText : "old");
    // The winner's votes come from the target, wherever the clutter votes.
    const VoteRegion& region = recognizer.winnerRegion();
    EXPECT_EQ(region.voters > kMinimumVotesExclusive, status == kRecognized);
    if (discStatus[index] == kRecognized) {
      EXPECT_EQ(status, kRecognized) << v.widthFraction;
    }
    double low[2] = {1e9, 1e9}, high[2] = {-1e9, -1e9};
    for (int i = 0; i < 8; ++i) {
      low[i % 2] = std::min(low[i % 2], truth.corners[i]);
      high[i % 2] = std::max(high[i % 2], truth.corners[i]);
    }
    for (const VoteRegion& r : {region, discRegions[index++]}) {
      if (r.voters == 0) continue;
      EXPECT_TRUE(r.x > low[0] && r.x < high[0] && r.y > low[1] && r.y < high[1])
          << r.x << "," << r.y << " " << v.widthFraction;
    }
    // Any format code but 0 is one grey byte per pixel: the same answer.
    const Image grey = toGray(frame);
    std::string fromGrey = "old";
    EXPECT_EQ(recognizer.recognize(grey.width, grey.height, 7, grey.pixels.data(), fromGrey, ""),
              status);
    EXPECT_EQ(fromGrey, result);
  }
  EXPECT_GE(recognised, 4);
  for (TimerId id :
       {kTimerRecognitionOptTotal, kTimerRecognitionOptPyramid, kTimerRecognitionOptDetection,
        kTimerRecognitionOptDescription, kTimerRecognitionOptMatching}) {
    ASSERT_EQ(timerRecords().count(id), 1u) << id;
    // Twelve frames: one block of ten and two samples.
    EXPECT_EQ(timerRecords().at(id).averages.size(), 1u) << id;
    EXPECT_EQ(timerRecords().at(id).count, 2) << id;
  }
  EXPECT_EQ(timerRecords().count(kTimerRecognitionTotal), 0u);

  // Neither a frame without the target nor one whose single pyramid level
  // has no features touches the result text.
  const std::vector<uint8_t> flat(640 * 480 * 3, 90);
  const Image narrow = render(view(0, 0.95), 100, 100);
  std::string result = kExpectedText;
  EXPECT_EQ(recognizer.recognize(640, 480, 0, flat.data(), result, ""), kNotRecognized);
  EXPECT_EQ(recognizer.recognize(narrow.width, narrow.height, 0, narrow.pixels.data(), result, ""),
            kNotRecognized);
  EXPECT_EQ(result, kExpectedText);
}

// Far views that no target wins, with the leader's votes near the target:
// the second look at the doubled window around them names it, and puts the
// votes back in frame pixels.
TEST(RecognizerPipeline, WindowRetryRecognisesFarTargets) {
  Recognizer plain, windowed;
  ASSERT_EQ(plain.init(loadSample("app_plain")), 0);
  ASSERT_EQ(windowed.init(loadSample("app_window")), 0);
  RecognitionOptions options;
  options.windowRetryVotes = 2;
  windowed.setOptions(options);
  const std::pair<double, uint32_t> views[] = {
      {0.10, 1}, {0.12, 1}, {0.14, 2}, {0.17, 4}, {0.20, 4}};
  for (const auto& [width, seed] : views) {
    ViewParams v = view(10.0 * seed, width, 20.0 * seed);
    v.offsetX = 0.05 * seed - 0.15;
    FrameTruth truth;
    const Image frame = render(v, 640, 480, seed, &truth);
    std::string text;
    EXPECT_EQ(plain.recognize(640, 480, 0, frame.pixels.data(), text, ""), kNotRecognized) << width;
    ASSERT_EQ(windowed.recognize(640, 480, 0, frame.pixels.data(), text, ""), kRecognized) << width;
    EXPECT_EQ(text, kExpectedText);
    const double centreX = (truth.corners[0] + truth.corners[4]) / 2;
    const double centreY = (truth.corners[1] + truth.corners[5]) / 2;
    EXPECT_LT(std::hypot(windowed.winnerRegion().x - centreX, windowed.winnerRegion().y - centreY),
              30.0)
        << width;
  }
}

TEST(RecognizerPipeline, PoseCandidatesCarryFramesWithoutAWinnerToThePose) {
  const std::shared_ptr<ArdbMngr> database = loadSample("app_candidates");
  Recognizer recognizer;
  ASSERT_EQ(recognizer.init(database), 0);
  RecognitionOptions options;
  options.poseCandidates = 1;
  recognizer.setOptions(options);
  Tracker tracker;
  ASSERT_EQ(tracker.init(640, 480, 0, database), kTrackOk);
  InitialPoseOptions pose;
  pose.voteWindowEnlargement = 4;
  tracker.setInitialPoseOptions(pose);
  int unwon = 0;
  int posed = 0;
  for (const auto& [width, seed] :
       {std::make_pair(0.10, 1u), std::make_pair(0.12, 1u), std::make_pair(0.14, 2u),
        std::make_pair(0.17, 4u), std::make_pair(0.20, 4u), std::make_pair(0.25, 5u)}) {
    ViewParams v = view(10.0 * seed, width, 20.0 * seed);
    v.offsetX = 0.05 * seed - 0.15;
    const Image frame = render(v, 640, 480, seed);
    CandidateAcquisition acquisition;
    std::string text;
    const int32_t status =
        acquisition.recognize(&recognizer, &tracker, 640, 480, 0, frame.pixels.data(), text, "");
    if (status != kRecognized || acquisition.won()) continue;
    ++unwon;
    EXPECT_EQ(text, kExpectedText);
    Trackable result;
    tracker.setKeyframeTargetId("");
    ::testing::internal::CaptureStdout();
    const int32_t code = acquisition.track(&tracker, frame.pixels.data(), result, "", text);
    ::testing::internal::GetCapturedStdout();
    if (code != kTrackOk) continue;
    ++posed;
    EXPECT_EQ(result.getId(), kTargetName);
    EXPECT_EQ(acquisition.trackedText(text), kExpectedText);
  }
  // Far views that the vote alone does not win (at least one of them) are
  // posed from their candidate.
  EXPECT_GE(posed, 1) << unwon;
}

// The real engines, counting frame steps and recording what they were asked.
class ObservedEngines : public DefaultTrackingEngines {
 public:
  using DefaultTrackingEngines::DefaultTrackingEngines;

  int32_t recognize(int32_t width, int32_t height, int32_t pixelFormat, const uint8_t* pixels,
                    std::string& result, std::string hint) override {
    const int32_t status =
        DefaultTrackingEngines::recognize(width, height, pixelFormat, pixels, result, hint);
    std::lock_guard<std::mutex> lock(mutex);
    statuses.push_back(status);
    return status;
  }
  int32_t track(const uint8_t* pixels, Trackable& trackable, std::string hint,
                std::string recognition) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      trackedWith.push_back(recognition);
    }
    return DefaultTrackingEngines::track(pixels, trackable, hint, recognition);
  }
  void frameStepFinished() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++steps;
    changed.notify_all();
  }

  std::mutex mutex;
  std::condition_variable changed;
  int steps = 0;
  std::vector<int32_t> statuses;
  // The recognition text of every track call (the Acquiring and Tracking stages).
  std::vector<std::string> trackedWith;
};

TEST(RecognizerPipeline, ManagerMovesFromRecognitionToAcquiringOnRenderedFrames) {
  auto database = std::make_shared<ArdbMngr>();
  auto engines = std::make_unique<ObservedEngines>(database, std::make_shared<Recognizer>(),
                                                   std::make_shared<Tracker>());
  ObservedEngines* observed = engines.get();
  ARManager manager(std::move(engines));
  // The manager hands its asset directory to the engines' database at load.
  manager.setArdbAssetDirPath(sample().dir.string());
  manager.setAppDataDirPath((sample().dir / "app_manager").string());
  manager.addTrackableGroup(kGroupFile);
  ::testing::internal::CaptureStdout();
  manager.startTracker();

  // Delivers one frame and waits until the tracking thread has finished a
  // step; a frame that arrived while the thread was busy is offered again.
  auto deliverStep = [&](const Image& frame) {
    std::unique_lock<std::mutex> lock(observed->mutex);
    const int target = observed->steps + 1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (observed->steps < target) {
      lock.unlock();
      manager.onPreviewFrame(frame.pixels.data(), static_cast<int32_t>(frame.pixels.size()),
                             frame.width, frame.height, 0);
      lock.lock();
      observed->changed.wait_for(lock, std::chrono::milliseconds(50));
      if (std::chrono::steady_clock::now() > deadline) return false;
    }
    return true;
  };

  const Image empty(640, 480, 3, 90);
  ASSERT_TRUE(deliverStep(empty));  // loads the database and initialises the engines
  ASSERT_TRUE(deliverStep(empty));
  bool recognised = false;
  const ViewParams views[] = {view(0, 0.6), view(20, 0.5, 30), view(10, 0.8, -20), view(30, 0.6)};
  Image shown;
  for (const ViewParams& v : views) {
    shown = render(v);
    ASSERT_TRUE(deliverStep(shown));
    std::lock_guard<std::mutex> lock(observed->mutex);
    if (!observed->statuses.empty() && observed->statuses.back() == kRecognized) {
      recognised = true;
      break;
    }
  }
  // Acquiring: the next frame goes to the tracker with the recognition text.
  EXPECT_TRUE(!recognised || deliverStep(shown));
  manager.stopTracker();
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(recognised);
  EXPECT_EQ(observed->statuses.front(), kNotRecognized);
  EXPECT_EQ(observed->trackedWith, std::vector<std::string>{kExpectedText});
}

}  // namespace
}  // namespace vornik
