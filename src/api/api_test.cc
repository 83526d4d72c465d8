// The exported surface: flat-layer misuse, result hand-over, and which
// symbols the shared library lets out.
#include <dlfcn.h>

#include <cstring>
#include <string>

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
  void expectEmpty() const {
    EXPECT_EQ(id[0], '\0');
    for (float v : pose) EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(size[0], 0.0f);
    EXPECT_EQ(size[1], 0.0f);
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

// First test of the file (and each test runs in its own process under
// ctest): no getTrackableCount has been called yet.
TEST(FlatApi, InfoBeforeAnyCountWritesNothingHarmful) {
  LogCapture log;
  FlatTrackable out;
  ::getTrackableInfo(0, out.id, out.pose, out.size);
  out.expectEmpty();
  EXPECT_EQ(log.snapshot(),
            std::vector<std::string>{"getTrackableInfo: call getTrackableCount first\n"});
}

TEST(FlatApi, CountAndInfoHandOverTheSnapshot) {
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
  ::getTrackableCount();
  ::getTrackableInfo(0, out.id, out.pose, out.size);
  EXPECT_STREQ(out.id, "short");
}

TEST(FlatApi, BadIndexAndNullPointersAreLoggedOnce) {
  ARManager::getInstance()->setTrackingResult(publishedTrackable("poster"));
  ASSERT_EQ(::getTrackableCount(), 1);
  for (int index : {1, -1, 1 << 30}) {
    LogCapture log;
    FlatTrackable out;
    ::getTrackableInfo(index, out.id, out.pose, out.size);
    out.expectEmpty();
    EXPECT_EQ(log.snapshot().size(), 1u) << index;
  }
  LogCapture log;
  FlatTrackable out;
  ::getTrackableInfo(0, nullptr, out.pose, out.size);
  for (float v : out.pose) EXPECT_EQ(v, 0.0f);
  ::getTrackableInfo(0, out.id, nullptr, nullptr);
  EXPECT_EQ(out.id[0], '\0');
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
  // The null asset directory did not empty the group list.
  EXPECT_EQ(ARManager::getInstance()->getArdbMngr()->ardbAssetDirPath(), "/assets");
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

TEST(FlatApi, DestroyTwiceOnlyStopsTheTrackerTwice) {
  LogCapture log;
  ::destroy();
  ::destroy();
  EXPECT_EQ(log.count("Stop tracker"), 2);
  EXPECT_EQ(log.snapshot().size(), 2u);
}

TEST(FlatApi, LogCallbackReceivesLinesUntilCleared) {
  static std::vector<std::string> lines;
  lines.clear();
  ::setLogCallback([](const char* line) { lines.push_back(line); });
  ::stopTracker();
  ::setLogCallback(nullptr);
  ::stopTracker();
  EXPECT_EQ(lines, std::vector<std::string>{"Stop tracker"});
}

TEST(SharedLibrary, ExportsTheInterfaceAndNothingElse) {
  void* library = dlopen(VORNIK_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name : {"setAppDataDirPath", "getTrackableCount", "getTrackableInfo",
                           "getProjectionMatrix", "setLogCallback", "setCameraSource", "destroy",
                           "getVideoFrame", "setScreenOrientationPortraitMode"}) {
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  }
  // Namespaced functions, by their mangled names.
  for (const char* name : {"_ZN6vornik14setLogCallbackEPFvPKcE", "_ZN6vornik12startTrackerEv",
                           "_ZN6vornik17getTrackingResultEv"}) {
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  }
  // Internals stay hidden.
  for (const char* name : {"_ZN6vornik10logMessageEPKcz", "_ZN6vornik9ARManager11getInstanceEv",
                           "_ZN6vornik10setLogSinkEPFvPKcE"}) {
    EXPECT_EQ(dlsym(library, name), nullptr) << name;
  }
  // Deliberately not closed: the library's singletons live until exit.
}

}  // namespace
}  // namespace vornik
