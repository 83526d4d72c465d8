// The exported surface: flat-layer misuse, result hand-over, and which
// symbols the shared library lets out.
#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "manager/ar_manager.h"
#include "manager/log_capture_for_test.h"
#include "vornik/vornik.h"
#include "vornik/vornik_c.h"

namespace vornik {
namespace {

struct FlatTrackable {
  char id[34];
  float pose[16];
  float size[2];
  FlatTrackable() {
    std::memset(id, 'Z', sizeof id);
    for (float& v : pose) v = -7.0f;
    size[0] = size[1] = -7.0f;
  }
  bool empty() const {
    bool zero = id[0] == '\0' && size[0] == 0.0f && size[1] == 0.0f;
    for (float v : pose) zero = zero && v == 0.0f;
    return zero;
  }
};

Trackable publishedTrackable(const std::string& id) {
  Trackable trackable;
  for (int i = 0; i < 16; ++i) trackable.pose()[i] = 0.5f * static_cast<float>(i);
  trackable.setId(id);
  trackable.setWidth(640.0f);
  trackable.setHeight(480.0f);
  return trackable;
}

TEST(FlatApi, InfoBeforeAnyCountWritesNothingHarmful) {
  // In a fresh child process, where no getTrackableCount has been called.
  EXPECT_EXIT(
      {
        LogCapture log;
        FlatTrackable out;
        ::getTrackableInfo(0, out.id, out.pose, out.size);
        const bool logged =
            log.snapshot() ==
            std::vector<std::string>{"getTrackableInfo: call getTrackableCount first\n"};
        std::_Exit(out.empty() && logged ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(FlatApi, CountAndInfoHandOverTheSnapshotAndLogBadIndicesAndNullPointers) {
  ARManager::getInstance()->setTrackingResult(Trackable());
  ARManager::getInstance()->setTrackingResult(publishedTrackable(std::string(40, 'a') + "tail"));
  ASSERT_EQ(::getTrackableCount(), 1);
  FlatTrackable out;
  ::getTrackableInfo(0, out.id, out.pose, out.size);
  EXPECT_EQ(std::string(out.id), std::string(33, 'a'));
  EXPECT_EQ(out.id[33], '\0');
  for (int i = 0; i < 16; ++i) EXPECT_EQ(out.pose[i], 0.5f * static_cast<float>(i));
  EXPECT_EQ(out.size[0], 640.0f);
  EXPECT_EQ(out.size[1], 480.0f);

  ARManager::getInstance()->setTrackingResult(publishedTrackable("short"));
  ASSERT_EQ(::getTrackableCount(), 1);
  ::getTrackableInfo(0, out.id, out.pose, out.size);
  EXPECT_STREQ(out.id, "short");
  for (int index : {1, -1, 1 << 30}) {
    LogCapture log;
    FlatTrackable bad;
    ::getTrackableInfo(index, bad.id, bad.pose, bad.size);
    EXPECT_TRUE(bad.empty()) << index;
    EXPECT_EQ(log.snapshot().size(), 1u) << index;
  }
  LogCapture log;
  FlatTrackable partial;
  ::getTrackableInfo(0, nullptr, partial.pose, partial.size);
  for (float v : partial.pose) EXPECT_EQ(v, 0.0f);
  ::getTrackableInfo(0, partial.id, nullptr, nullptr);
  EXPECT_EQ(partial.id[0], '\0');
  ::getTrackableInfo(0, nullptr, nullptr, nullptr);
  EXPECT_EQ(log.snapshot().size(), 3u);
}

TEST(FlatApi, NullStringsAndBuffersAreLoggedAndIgnored) {
  ::setArdbAssetDirPath("/assets");
  ::addTrackableGroup("kept.grp");
  LogCapture log;
  ::setAppDataDirPath(nullptr);
  ::setArdbAssetDirPath(nullptr);
  ::addTrackableGroup(nullptr);
  ::setCameraSource(nullptr);
  ::getProjectionMatrix(nullptr);
  ::getCameraPreviewSize(nullptr);
  ::getVideoFrame(nullptr);
  EXPECT_EQ(log.snapshot().size(), 7u);
  // The two a host calls every frame log at most once a second after that.
  for (int i = 0; i < 100; ++i) {
    ::getProjectionMatrix(nullptr);
    ::getVideoFrame(nullptr);
  }
  EXPECT_LE(log.snapshot().size(), 9u);
  // The null asset directory did not empty the group list.
  EXPECT_EQ(ARManager::getInstance()->ardbAssetDirPath(), "/assets");
}

TEST(FlatApi, ProjectionMatrixFollowsWindowAndCameraSizes) {
  auto manager = ARManager::getInstance();
  ::setScreenOrientationPortraitMode(false);
  ::updateRendering(1280, 720);
  std::vector<uint8_t> frame(640 * 480 * 3, 0);
  manager->onPreviewFrame(frame.data(), static_cast<int32_t>(frame.size()), 640, 480, 0);
  float matrix[16];
  ::getProjectionMatrix(matrix);
  EXPECT_EQ(matrix[0], 2.0f);
  EXPECT_EQ(matrix[5], -3.5555556f);
  // The orientation reaches the calibration with the next window update.
  ::setScreenOrientationPortraitMode(true);
  EXPECT_TRUE(manager->portraitMode());
  ::updateRendering(1280, 720);
  const Matrix44F& portrait = vornik::getProjectionMatrix();
  EXPECT_EQ(portrait.data[1], -2.0f);
  EXPECT_EQ(portrait.data[4], -1.125f);
  ::setScreenOrientationPortraitMode(false);
}

// Each flat setter changes its own option, clamped, and leaves the others.
TEST(FlatApi, AcquisitionOptionsReachTheManagerClamped) {
  const std::shared_ptr<ARManager> manager = ARManager::getInstance();
  struct Case {
    void (*set)(int);
    int value;
    int perLayer, refine, attempts, rescue, enlarged, window;  // the options after the call
  };
  const Case cases[] = {
      {::setAcquisitionOptions, 150, 150, 0, 1, 0, 0, 0},
      {::setInitialPoseRefinement, 7, 150, 1, 1, 0, 0, 0},
      {::setAcquiringAttempts, 3, 150, 1, 3, 0, 0, 0},
      {::setRansacRescueIterations, 300, 150, 1, 3, 300, 0, 0},
      {::setInitialPoseEnlargedRetry, 2, 150, 1, 3, 300, 1, 0},
      {::setAcquisitionOptions, 0, 1, 1, 3, 300, 1, 0},
      {::setAcquisitionOptions, -7, 1, 1, 3, 300, 1, 0},
      {::setAcquisitionOptions, 1 << 30, 1000, 1, 3, 300, 1, 0},
      {::setAcquiringAttempts, 0, 1000, 1, 1, 300, 1, 0},
      {::setRansacRescueIterations, -5, 1000, 1, 1, 0, 1, 0},
      {::setAcquiringAttempts, 1 << 30, 1000, 1, 30, 0, 1, 0},
      {::setRansacRescueIterations, 1 << 30, 1000, 1, 30, 1000, 1, 0},
      {::setInitialPoseRefinement, 0, 1000, 0, 30, 1000, 1, 0},
      {::setInitialPoseEnlargedRetry, 0, 1000, 0, 30, 1000, 0, 0},
      {::setAcquiringAttempts, 1, 1000, 0, 1, 1000, 0, 0},
      {::setRansacRescueIterations, 0, 1000, 0, 1, 0, 0, 0},
      {::setInitialPoseVoteWindow, 4, 1000, 0, 1, 0, 0, 4},
      {::setInitialPoseVoteWindow, 3, 1000, 0, 1, 0, 0, 2},
      {::setInitialPoseVoteWindow, 1 << 30, 1000, 0, 1, 0, 0, 4},
      {::setInitialPoseVoteWindow, 1, 1000, 0, 1, 0, 0, 0},
      {::setInitialPoseVoteWindow, -3, 1000, 0, 1, 0, 0, 0},
      {::setAcquisitionOptions, 60, 60, 0, 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    c.set(c.value);
    const AcquisitionOptions options = manager->acquisitionOptions();
    EXPECT_EQ(options.initialPoseFeaturesPerLayer, c.perLayer) << c.value;
    EXPECT_EQ(options.refineInitialPose ? 1 : 0, c.refine) << c.value;
    EXPECT_EQ(options.acquiringAttempts, c.attempts) << c.value;
    EXPECT_EQ(options.retryEnlargedFrame ? 1 : 0, c.enlarged) << c.value;
    EXPECT_EQ(options.ransacRescueIterations, c.rescue) << c.value;
    EXPECT_EQ(options.voteWindowEnlargement, c.window) << c.value;
  }
}

TEST(FlatApi, RecognitionOptionsReachTheManagerClamped) {
  const std::shared_ptr<ARManager> manager = ARManager::getInstance();
  for (const auto& c : {std::make_pair(400, 400), std::make_pair(10, 50),
                        std::make_pair(1 << 30, 2000), std::make_pair(200, 200)}) {
    ::setRecognitionCorners(c.first);
    EXPECT_EQ(manager->recognitionOptions().cornerBudget, c.second) << c.first;
  }
  for (const auto& c :
       {std::make_pair(2, 2), std::make_pair(-1, 0), std::make_pair(9, 4), std::make_pair(0, 0)}) {
    ::setRecognitionWindowRetry(c.first);
    EXPECT_EQ(manager->recognitionOptions().windowRetryVotes, c.second) << c.first;
    EXPECT_EQ(manager->recognitionOptions().cornerBudget, 200) << c.first;
  }
  for (const auto& c : {std::make_pair(22, 22), std::make_pair(-5, 0), std::make_pair(250, 100),
                        std::make_pair(0, 0)}) {
    ::setRecognitionVoteDisc(c.first);
    EXPECT_EQ(manager->recognitionOptions().voteDiscPercent, c.second) << c.first;
    EXPECT_EQ(manager->recognitionOptions().windowRetryVotes, 0) << c.first;
    ::setRecognitionPoseCandidates(c.first);
    EXPECT_EQ(manager->recognitionOptions().poseCandidates, std::clamp(c.first, 0, 8)) << c.first;
    ::setInitialPoseAgreement(c.first);
    EXPECT_FLOAT_EQ(manager->initialPoseOptions().minAgreement, 0.01f * c.second) << c.first;
    ::setInitialPoseSecondLook(c.first);
    EXPECT_FLOAT_EQ(manager->initialPoseOptions().secondLookAgreement, 0.01f * c.second)
        << c.first;
  }
  for (const auto& c : {std::make_pair(12, 12), std::make_pair(3, 10), std::make_pair(40, 17),
                        std::make_pair(17, 17)}) {
    ::setInitialPoseMinMatches(c.first);
    EXPECT_EQ(manager->initialPoseOptions().minMatches, c.second) << c.first;
  }
  for (const auto& c : {std::make_pair(2, 2), std::make_pair(9, 4), std::make_pair(-1, 0)}) {
    ::setInitialPoseConsensusRetries(c.first);
    EXPECT_EQ(manager->initialPoseOptions().consensusRetries, c.second) << c.first;
  }
  for (const auto& c :
       {std::make_pair(2, 2), std::make_pair(0, 2), std::make_pair(9, 4), std::make_pair(3, 3)}) {
    ::setRecognitionCandidateVotes(c.first);
    EXPECT_EQ(manager->recognitionOptions().candidateMinVotes, c.second) << c.first;
  }
  for (const int enabled : {7, 0}) {
    ::setInitialPoseTiltViews(enabled);
    EXPECT_EQ(manager->initialPoseOptions().tiltViews, enabled != 0) << enabled;
    ::setAcquireOnRecognisedFrame(enabled);
    EXPECT_EQ(manager->acquisitionOptions().acquireOnRecognisedFrame, enabled != 0) << enabled;
    ::setInitialPoseRigidFit(enabled);
    EXPECT_EQ(manager->initialPoseOptions().rigidFit, enabled != 0) << enabled;
  }
  for (const auto& c : {std::make_pair(5, 5), std::make_pair(99, 64), std::make_pair(-2, 0)}) {
    ::setRecognitionNearKeySteps(c.first);
    EXPECT_EQ(manager->recognitionOptions().nearKeySteps, c.second) << c.first;
  }
}

TEST(FlatApi, TrackingOptionsReachTheManagerClamped) {
  const std::shared_ptr<ARManager> manager = ARManager::getInstance();
  for (const auto& c : {std::make_pair(2, 2), std::make_pair(-1, 0), std::make_pair(1 << 30, 3),
                        std::make_pair(0, 0)}) {
    ::setTrackingLevelRange(c.first);
    EXPECT_EQ(manager->trackingOptions().keyframeLevelRange, c.second) << c.first;
    ::setTrackingSearchThreads(c.first);
    EXPECT_EQ(manager->trackingOptions().searchThreads, c.second) << c.first;
    ::setTrackingCoarseRefinement(c.first);
    EXPECT_EQ(manager->trackingOptions().refineCoarseMatches, c.first != 0) << c.first;
    EXPECT_EQ(manager->trackingOptions().keyframeLevelRange, c.second) << c.first;
    ::setTrackingCoarseBatches(c.first + 1);
    EXPECT_EQ(manager->trackingOptions().coarseBatches, std::min(c.second + 1, 4)) << c.first;
    ::setTrackingKeyframeFineBelow(c.first);
    EXPECT_EQ(manager->trackingOptions().keyframeFineBelowInliers, std::clamp(c.first, 0, 35))
        << c.first;
  }
  ::setTrackingSearchThreads(3);
  ::setTrackingCoarseBatches(1);
  ::setTrackingKeyframeFineBelow(0);
}

TEST(FlatApi, DestroyTwiceOnlyStopsTheTrackerTwiceAndTheLogCallbackEndsWhenCleared) {
  static std::vector<std::string> lines;
  lines.clear();
  ::setLogCallback([](const char* line) { lines.push_back(line); });
  ::destroy();
  ::destroy();
  ::setLogCallback(nullptr);
  ::stopTracker();
  EXPECT_EQ(lines, std::vector<std::string>(2, "Stop tracker"));
}

// Names declared with VORNIK_API in a public header.
std::set<std::string> declaredNames(const std::string& header) {
  std::ifstream in(std::string(VORNIK_DATA_DIR) + "/../include/vornik/" + header);
  EXPECT_TRUE(in.good()) << header;
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::regex declaration(R"(VORNIK_API[^;(]*?(\w+)\s*\()");
  std::set<std::string> names;
  for (std::sregex_iterator it(all.begin(), all.end(), declaration), end; it != end; ++it) {
    names.insert((*it)[1]);
  }
  return names;
}

TEST(SharedLibrary, ExportsEveryFunctionOfBothHeadersAndNothingElse) {
  const std::set<std::string> flat = declaredNames("vornik_c.h");
  const std::set<std::string> namespaced = declaredNames("vornik.h");
  ASSERT_GE(flat.size(), 20u);
  ASSERT_GE(namespaced.size(), 20u);

  const std::string command = std::string("nm -D --defined-only ") + VORNIK_SHARED_LIBRARY;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> exportedFlat;
  std::set<std::string> exportedNamespaced;
  std::vector<std::string> others;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::stringstream fields(line);
    std::string address, type, symbol;
    if (!(fields >> address >> type >> symbol)) continue;
    // Weak instantiations of standard-library templates keep the default
    // visibility their headers give them; they are not part of the interface.
    if (type != "T") continue;
    int status = 0;
    char* demangled = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status);
    const std::string readable = status == 0 ? demangled : symbol;
    std::free(demangled);
    if (readable.rfind("vornik::", 0) == 0 && readable.find('(') != std::string::npos) {
      exportedNamespaced.insert(readable.substr(8, readable.find('(') - 8));
    } else if (status != 0) {
      exportedFlat.insert(symbol);
    } else {
      others.push_back(readable);
    }
  }
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(exportedFlat, flat);
  EXPECT_EQ(exportedNamespaced, namespaced);
  EXPECT_TRUE(others.empty()) << others.front();
}

}  // namespace
}  // namespace vornik
