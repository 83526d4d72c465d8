// The vornik-mkdb program end to end: the group file it writes is read back
// with the library's own database code, and bad input fails cleanly.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "builder/database_builder.h"
#include "common/synthetic_view.h"
#include "database/ardb_mngr.h"
#include "features/descriptor_key.h"
#include "features/feature_extractor.h"
#include "recognition/recognizer.h"
#include "tracking/initial_pose.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

const std::string kSample = VORNIK_DATA_DIR "/sample_target.jpg";
const std::string kCamera = VORNIK_DATA_DIR "/photos/camera.jpg";  // grey

std::string testDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const fs::path dir = fs::path(VORNIK_BINARY_DIR) / "mkdb_test" / info->name();
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs vornik-mkdb with `args` (already shell-quoted where needed).
RunResult runMkdb(const std::string& dir, const std::string& args) {
  const std::string outPath = dir + "/stdout.txt";
  const std::string errPath = dir + "/stderr.txt";
  const std::string command =
      quote(VORNIK_MKDB_PATH) + " " + args + " >" + quote(outPath) + " 2>" + quote(errPath);
  RunResult r;
  const int raw = std::system(command.c_str());
  r.status = raw == -1 ? -1 : WEXITSTATUS(raw);
  std::ifstream o(outPath), e(errPath);
  r.out.assign(std::istreambuf_iterator<char>(o), {});
  r.err.assign(std::istreambuf_iterator<char>(e), {});
  return r;
}

std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

uint32_t bigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// The fields of a group file in order: (name, data).
std::vector<std::pair<std::string, std::vector<uint8_t>>> groupRecords(
    const std::vector<uint8_t>& bytes) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> records;
  size_t p = 0;
  while (p < bytes.size()) {
    EXPECT_EQ(bytes[p], 0x80);
    EXPECT_EQ(bytes[p + 1], 0x01);
    const size_t length = bytes[p + 2];
    std::string name(bytes.begin() + p + 3, bytes.begin() + p + 3 + length);
    p += 3 + length;
    EXPECT_EQ(bytes[p], 0x02);
    const uint32_t size = bigEndian32(&bytes[p + 1]);
    std::vector<uint8_t> data(bytes.begin() + p + 5, bytes.begin() + p + 5 + size);
    p += 5 + size;
    EXPECT_EQ(bytes[p], 0xC0);
    ++p;
    records.emplace_back(std::move(name), std::move(data));
  }
  return records;
}

// A frontal 640 x 480 colour view of the stored target image at `fraction`
// of the frame width, over clutter.
RenderedView frontalView(ArdbMngr& db, const std::string& target, double fraction) {
  uint8_t* pixels = nullptr;
  int32_t w = 0, h = 0, grey = 0;
  EXPECT_EQ(db.loadTargetImage(pixels, w, h, grey, target), 0);
  Image image(w, h, grey ? 1 : 3);
  std::memcpy(image.pixels.data(), pixels, image.pixels.size());
  delete[] pixels;
  CameraModel camera;
  const Image clutter = makeClutter(camera.width, camera.height, 5);
  ViewOptions options;
  options.camera = camera;
  options.background = &clutter;
  options.noiseSigma = 2.0;
  RenderedView view;
  std::string error;
  EXPECT_TRUE(renderView(image, poseFromView(ViewParams{0, 0, 0, fraction, 0, 0}, camera), options,
                         &view, &error))
      << error;
  return view;
}

// One database shared by the checks below; built once, because building is
// the slow part (the whole test binary also runs under the sanitizers).
struct BuiltDatabase {
  std::string dir;
  RunResult result;
};

const BuiltDatabase& builtDatabase() {
  static const BuiltDatabase built = [] {
    BuiltDatabase b;
    // CTest runs every case as its own process, in parallel: one folder each.
    b.dir = (fs::path(VORNIK_BINARY_DIR) / "mkdb_test" / ("built_" + std::to_string(getpid())))
                .string();
    fs::remove_all(b.dir);
    fs::create_directories(b.dir);
    b.result = runMkdb(b.dir, "-o " + quote(b.dir + "/shop.db") +
                                  " --views 48 --width 0.21 --width poster=0.5" + " --name " +
                                  quote("poster=Shop \"Front\" \\ poster") + " " + quote(kSample) +
                                  " " + quote(kCamera + "=poster") + " --size 512");
    return b;
  }();
  return built;
}

void checkWritesFourEntriesPerTargetInTheGroupFileLayout(const std::string& dir) {
  EXPECT_NE(builtDatabase().result.out.find("[2/2] poster"), std::string::npos)
      << builtDatabase().result.out;
  const auto records = groupRecords(readBytes(dir + "/shop.db"));
  ASSERT_EQ(records.size(), 8u);
  const char* names[] = {"sample_target.dat",  "sample_target.trk", "sample_target.jpg",
                         "sample_target.json", "poster.dat",        "poster.trk",
                         "poster.jpg",         "poster.json"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(records[i].first, names[i]);

  const std::vector<uint8_t>& dat = records[0].second;
  ASSERT_EQ((dat.size() - 4) % 68, 0u);
  const uint8_t width021[4] = {0x3D, 0x0A, 0x57, 0x3E};  // 0.21f, little-endian
  EXPECT_EQ(std::memcmp(dat.data(), width021, 4), 0);
  const std::vector<uint8_t>& trk = records[1].second;
  ASSERT_EQ((trk.size() - 3) % 69, 0u);
  EXPECT_EQ(trk[0], 0x20);  // 512 << 12 | 512
  EXPECT_EQ(trk[1], 0x02);
  EXPECT_EQ(trk[2], 0x00);
  EXPECT_EQ(records[2].second[0], 0xFF);  // a JPEG file
  EXPECT_EQ(records[2].second[1], 0xD8);
  EXPECT_EQ(std::string(records[3].second.begin(), records[3].second.end()),
            "{\"TrackableName\":\"sample_target\"}");
  EXPECT_FALSE(fs::exists(dir + "/shop.db.tmp"));
}

void checkTheLibraryReadsBackWhatTheBuilderMeant(const std::string& dir) {
  ArdbMngr db;
  db.setArdbAssetDirPath(dir);
  db.loadTrackerData(dir + "/cache", {"shop.db"});
  EXPECT_EQ(db.descriptorTargets(), (std::set<std::string>{"poster", "sample_target"}));

  for (const char* name : {"sample_target", "poster"}) {
    const std::string target = name;
    std::vector<HessianGradientFeaturePtr> features;
    float headerValue = 0.0f;
    ASSERT_EQ(db.readDescriptor(features, headerValue, target), 0);
    EXPECT_FLOAT_EQ(headerValue, target == "poster" ? 0.5f : 0.21f);
    EXPECT_GT(features.size(), 100u);
    std::set<std::pair<int, int32_t>> keys;
    for (const auto& f : features) {
      ASSERT_LT(f->level, 20);
      EXPECT_EQ(f->descriptorKey, descriptorKey(f->descriptor.data()));
      const double levelSide = 512.0 / std::pow(2.0, f->level / 5.0);
      EXPECT_LT(f->x, levelSide + 1);
      EXPECT_LT(f->y, levelSide + 1);
      // One record per (polarity, key): more would never add a vote.
      EXPECT_TRUE(keys.insert({f->polarity, f->descriptorKey}).second);
      EXPECT_EQ(f->name, target);
    }

    std::vector<FeaturePtr> tracking;
    int32_t w = 0, h = 0;
    ASSERT_EQ(db.loadTargetFeatures(tracking, w, h, target), 0);
    EXPECT_EQ(w, 512);
    EXPECT_EQ(h, 512);
    EXPECT_GT(tracking.size(), 100u);
    EXPECT_LE(tracking.size(), 800u);
    for (const auto& f : tracking) {
      EXPECT_GE(f->x, -256);
      EXPECT_LT(f->x, 256);
      EXPECT_GT(f->y, -256);
      EXPECT_LE(f->y, 256);
      EXPECT_LE(f->layer, 1);
    }

    uint8_t* pixels = nullptr;
    int32_t grey = -1;
    ASSERT_EQ(db.loadTargetImage(pixels, w, h, grey, target), 0);
    EXPECT_EQ(w, 512);
    EXPECT_EQ(h, 512);
    EXPECT_EQ(grey, target == "poster" ? 1 : 0);  // a grey and a colour photo
    delete[] pixels;

    char* info = nullptr;
    ASSERT_EQ(db.loadTargetInfo(info, target), 0);
    cJSON* root = cJSON_Parse(info);
    delete[] info;
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(cJSON_GetObjectItem(root, "TrackableName")->valuestring,
                 target == "poster" ? "Shop \"Front\" \\ poster" : "sample_target");
    cJSON_Delete(root);
  }
  EXPECT_EQ(db.headerValues().at("poster"), 0.5f);
}

void checkTheInitialPoseFindsTheTargetInAFrontalFrame(const std::string& dir) {
  ArdbMngr db;
  db.setArdbAssetDirPath(dir);
  db.loadTrackerData(dir + "/cache", {"shop.db"});
  std::vector<FeaturePtr> stored;
  int32_t w = 0, h = 0;
  ASSERT_EQ(db.loadTargetFeatures(stored, w, h, "poster"), 0);
  const RenderedView view = frontalView(db, "poster", 0.5);
  FeatureExtractor extractor(640, 480, 0);
  auto found = extractor.extract(view.frame.pixels.data());
  ASSERT_NE(found, nullptr);
  const auto described = found->describe();
  Random random(1);
  MatrixPtr pose;
  ASSERT_EQ(estimateInitialPose(stored, w, described, 640, 480, random, &pose), 0);
  // Frontal at half the frame width: depth 2 target widths, centred.
  EXPECT_NEAR((*pose)(2, 3), 2.0, 0.1);
  EXPECT_NEAR((*pose)(0, 3), 0.0, 0.05);
  EXPECT_NEAR((*pose)(1, 3), 0.0, 0.05);
  EXPECT_NEAR((*pose)(0, 0), 1.0, 0.05);
  EXPECT_NEAR((*pose)(1, 1), -1.0, 0.05);  // target y up, camera y down
}

void checkTheRecognizerNamesTheTargetInAFrontalFrame(const std::string& dir) {
  auto db = std::make_shared<ArdbMngr>();
  db->setArdbAssetDirPath(dir);
  db->loadTrackerData(dir + "/cache", {"shop.db"});
  Recognizer recognizer;
  ASSERT_EQ(recognizer.init(db), 0);
  for (double fraction : {0.3, 0.6, 0.9}) {
    const RenderedView view = frontalView(*db, "sample_target", fraction);
    std::string result;
    EXPECT_EQ(recognizer.recognize(640, 480, 0, view.frame.pixels.data(), result, ""), 0)
        << fraction;
    EXPECT_EQ(result, "{[{\"id\":\"sample_target\"}]}");
  }
  // Clutter alone names nothing.
  const Image clutter = makeClutter(640, 480, 77);
  std::string result = "unchanged";
  EXPECT_EQ(recognizer.recognize(640, 480, 0, clutter.pixels.data(), result, ""), 10);
  EXPECT_EQ(result, "unchanged");
}

void checkListsTargetsWithSizesCountsAndRating(const std::string& dir) {
  const RunResult list = runMkdb(dir, "--list " + quote(dir + "/shop.db"));
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find(": 2 targets"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("poster \"Shop \"Front\" \\ poster\" width 0.5, image 512x512"),
            std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("trackability: "), std::string::npos);
  const std::vector<uint8_t> bytes = readBytes(dir + "/shop.db");
  const auto records = groupRecords(bytes);
  const std::string sizes = "entries: .dat " + std::to_string(records[0].second.size()) +
                            " B, .trk " + std::to_string(records[1].second.size()) + " B";
  EXPECT_NE(list.out.find(sizes), std::string::npos) << list.out;
}

TEST(Mkdb, BuiltDatabaseWorksWithTheLibrary) {
  const BuiltDatabase& built = builtDatabase();
  ASSERT_EQ(built.result.status, 0) << built.result.err;
  {
    SCOPED_TRACE("WritesFourEntriesPerTargetInTheGroupFileLayout");
    checkWritesFourEntriesPerTargetInTheGroupFileLayout(built.dir);
  }
  {
    SCOPED_TRACE("TheLibraryReadsBackWhatTheBuilderMeant");
    checkTheLibraryReadsBackWhatTheBuilderMeant(built.dir);
  }
  {
    SCOPED_TRACE("TheInitialPoseFindsTheTargetInAFrontalFrame");
    checkTheInitialPoseFindsTheTargetInAFrontalFrame(built.dir);
  }
  {
    SCOPED_TRACE("TheRecognizerNamesTheTargetInAFrontalFrame");
    checkTheRecognizerNamesTheTargetInAFrontalFrame(built.dir);
  }
  {
    SCOPED_TRACE("ListsTargetsWithSizesCountsAndRating");
    checkListsTargetsWithSizesCountsAndRating(built.dir);
  }
}

TEST(Mkdb, SameInputsGiveTheSameBytes) {
  // In one process, so the clutter statistics are made once; the program
  // adds nothing but the file around these bytes.
  Image image;
  std::string error;
  ASSERT_TRUE(loadInputImage(kSample, &image, &error)) << error;
  TargetSpec spec;
  spec.targetName = spec.displayName = "sample";
  BuildOptions options;
  options.trainingViews = 4;
  options.workingSize = 320;
  BuiltTarget a, b, c;
  ASSERT_TRUE(buildTarget(spec, image, options, &a, &error)) << error;
  ASSERT_TRUE(buildTarget(spec, image, options, &b, &error)) << error;
  options.seed = 2;
  ASSERT_TRUE(buildTarget(spec, image, options, &c, &error)) << error;
  std::vector<uint8_t> fileA, fileB, fileC;
  ASSERT_TRUE(makeGroupFile({a}, &fileA));
  ASSERT_TRUE(makeGroupFile({b}, &fileB));
  ASSERT_TRUE(makeGroupFile({c}, &fileC));
  EXPECT_GT(fileA.size(), 10000u);
  EXPECT_EQ(fileA, fileB);
  EXPECT_NE(fileA, fileC);
}

// A bad input names the file and the reason on one line, exits non-zero and
// leaves no output file behind, not even an older one.
void expectCleanFailure(const std::string& dir, const std::string& args,
                        const std::string& fileInMessage, const std::string& reason) {
  const std::string out = dir + "/out.db";
  { std::ofstream(out) << "old"; }
  const RunResult r = runMkdb(dir, "-o " + quote(out) + " --views 2 " + args);
  EXPECT_NE(r.status, 0) << args;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find(fileInMessage), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  std::ifstream old(out);
  std::string content((std::istreambuf_iterator<char>(old)), {});
  EXPECT_EQ(content, "old") << "the previous file must stay as it was";
  EXPECT_FALSE(fs::exists(out + ".tmp"));
}

TEST(Mkdb, RejectsBadInputWithOneLineAndNoOutput) {
  const std::string dir = testDir();
  const std::string text = dir + "/notes.jpg";
  { std::ofstream(text) << "not an image at all"; }
  std::string error;
  const std::string tiny = dir + "/tiny.jpg";
  ASSERT_TRUE(writeJpeg(tiny, Image(99, 300, 1, 128), 90, &error)) << error;
  const std::string huge = dir + "/huge.jpg";
  ASSERT_TRUE(writeJpeg(huge, Image(16385, 100, 1, 128), 50, &error)) << error;

  expectCleanFailure(dir, quote(dir + "/missing.jpg"), "missing.jpg", "");
  expectCleanFailure(dir, quote(text), "notes.jpg", "");
  expectCleanFailure(dir, quote(tiny), "tiny.jpg", "smaller than 100 pixels");
  expectCleanFailure(dir, quote(huge), "huge.jpg", "larger than 16384 pixels");
  expectCleanFailure(dir, quote(kSample) + " " + quote(kSample), "sample_target.jpg",
                     "duplicate target name");
  expectCleanFailure(dir, quote(kSample + "=a.b"), "sample_target.jpg", "invalid target name");

  const RunResult unwritable =
      runMkdb(dir, "-o " + quote(dir + "/no/such/dir/x.db") + " --views 2 " + quote(kSample));
  EXPECT_NE(unwritable.status, 0);
  EXPECT_NE(unwritable.err.find("no/such/dir/x.db: cannot write"), std::string::npos)
      << unwritable.err;
  EXPECT_FALSE(fs::exists(dir + "/no"));
}

TEST(Mkdb, HelpDocumentsEveryOptionAndBadOptionsFail) {
  const std::string dir = testDir();
  const RunResult help = runMkdb(dir, "--help");
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--output", "--name", "--width", "--size", "--quality", "--views", "--no-training",
        "--seed", "--max-keys", "--max-tracking", "--quiet", "--list", "--help"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(runMkdb(dir, "-o x.db --size 50 " + quote(kSample)).status, 2);
  EXPECT_EQ(runMkdb(dir, "-o x.db --width -1 " + quote(kSample)).status, 2);
  EXPECT_EQ(runMkdb(dir, "-o x.db --name nosuch=Y " + quote(kSample)).status, 2);
  EXPECT_EQ(runMkdb(dir, "--frobnicate").status, 2);
  EXPECT_EQ(runMkdb(dir, quote(kSample)).status, 2);  // no output
  EXPECT_FALSE(fs::exists(dir + "/x.db"));
}

}  // namespace
}  // namespace vornik
