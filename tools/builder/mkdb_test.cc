// The vornik-mkdb program end to end: the group file it writes is read back
// with the library's own database code, and bad input fails cleanly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "builder/database_builder.h"
#include "common/synthetic_view.h"
#include "common/test_programs.h"
#include "database/ardb_mngr.h"
#include "database/group_file_writer.h"
#include "features/descriptor_key.h"
#include "recognition/recognizer.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

const std::string kSample = VORNIK_DATA_DIR "/sample_target.jpg";
const std::string kCamera = VORNIK_DATA_DIR "/photos/camera.jpg";  // grey

// An empty folder for this test (by default named after it).
std::string testDir(std::string name = "") {
  if (name.empty()) name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const fs::path dir = fs::path(VORNIK_BINARY_DIR) / "mkdb_test" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

ProgramRun runMkdb(const std::string& dir, const std::string& args) {
  return runProgram(VORNIK_MKDB_PATH, args, dir + "/run");
}

// The fields of a group file in order: (name, data).
std::vector<std::pair<std::string, std::vector<uint8_t>>> groupRecords(const std::string& path) {
  const std::string text = readFileText(path);
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  std::vector<std::pair<std::string, std::vector<uint8_t>>> records;
  size_t p = 0;
  while (p < bytes.size()) {
    EXPECT_EQ(bytes[p], 0x80);
    EXPECT_EQ(bytes[p + 1], 0x01);
    const size_t length = bytes[p + 2];
    std::string name(bytes.begin() + p + 3, bytes.begin() + p + 3 + length);
    p += 3 + length;
    EXPECT_EQ(bytes[p], 0x02);
    const uint32_t size = uint32_t{bytes[p + 1]} << 24 | uint32_t{bytes[p + 2]} << 16 |
                          uint32_t{bytes[p + 3]} << 8 | bytes[p + 4];
    std::vector<uint8_t> data(bytes.begin() + p + 5, bytes.begin() + p + 5 + size);
    p += 5 + size;
    EXPECT_EQ(bytes[p++], 0xC0);
    records.emplace_back(std::move(name), std::move(data));
  }
  return records;
}

std::shared_ptr<ArdbMngr> loadDatabase(const std::string& dir) {
  auto db = std::make_shared<ArdbMngr>();
  db->setArdbAssetDirPath(dir);
  db->loadTrackerData(dir + "/cache", {"shop.db"});
  return db;
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
  const Image clutter = makeClutter(640, 480, 5);
  ViewOptions options;
  options.background = &clutter;
  options.noiseSigma = 2.0;
  RenderedView view;
  std::string error;
  EXPECT_TRUE(renderView(image, poseFromView(ViewParams{0, 0, 0, fraction, 0, 0}, options.camera),
                         options, &view, &error))
      << error;
  return view;
}

// One database shared by the checks below; built once, because building is
// the slow part. CTest runs every case as its own process, in parallel: one
// folder each.
struct BuiltDatabase {
  std::string dir;
  ProgramRun result;
};

const BuiltDatabase& builtDatabase() {
  static const BuiltDatabase built = [] {
    BuiltDatabase b;
    b.dir = testDir("built_" + std::to_string(getpid()));
    b.result = runMkdb(b.dir, "-o " + quote(b.dir + "/shop.db") +
                                  " --views 48 --width 0.21 --width poster=0.5 --name " +
                                  quote("poster=Shop \"Front\" \\ poster") + " " + quote(kSample) +
                                  " " + quote(kCamera + "=poster") + " --size 512");
    return b;
  }();
  return built;
}

void checkWritesFourEntriesPerTargetInTheGroupFileLayout(const std::string& dir) {
  EXPECT_NE(builtDatabase().result.out.find("[2/2] poster"), std::string::npos)
      << builtDatabase().result.out;
  const auto records = groupRecords(dir + "/shop.db");
  ASSERT_EQ(records.size(), 8u);
  const char* names[] = {"sample_target.dat",  "sample_target.trk", "sample_target.jpg",
                         "sample_target.json", "poster.dat",        "poster.trk",
                         "poster.jpg",         "poster.json"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(records[i].first, names[i]);

  const std::vector<uint8_t>& dat = records[0].second;
  ASSERT_EQ((dat.size() - 4) % 68, 0u);
  EXPECT_EQ(std::vector<uint8_t>(dat.begin(), dat.begin() + 4),
            (std::vector<uint8_t>{0x3D, 0x0A, 0x57, 0x3E}));  // 0.21f, little-endian
  const std::vector<uint8_t>& trk = records[1].second;
  ASSERT_EQ((trk.size() - 3) % 69, 0u);
  EXPECT_EQ(std::vector<uint8_t>(trk.begin(), trk.begin() + 3),
            (std::vector<uint8_t>{0x20, 0x02, 0x00}));                  // 512 << 12 | 512
  EXPECT_EQ(records[2].second[0] << 8 | records[2].second[1], 0xFFD8);  // a JPEG file
  EXPECT_EQ(std::string(records[3].second.begin(), records[3].second.end()),
            "{\"TrackableName\":\"sample_target\"}");
  EXPECT_FALSE(fs::exists(dir + "/shop.db.tmp"));
}

void checkTheLibraryReadsBackWhatTheBuilderMeant(const std::string& dir) {
  const auto db = loadDatabase(dir);
  EXPECT_EQ(db->descriptorTargets(), (std::set<std::string>{"poster", "sample_target"}));
  for (const std::string target : {"sample_target", "poster"}) {
    std::vector<HessianGradientFeaturePtr> features;
    float headerValue = 0.0f;
    ASSERT_EQ(db->readDescriptor(features, headerValue, target), 0);
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
    ASSERT_EQ(db->loadTargetFeatures(tracking, w, h, target), 0);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(512, 512));
    EXPECT_GT(tracking.size(), 100u);
    EXPECT_LE(tracking.size(), 800u);
    for (const auto& f : tracking) {
      EXPECT_TRUE(f->x >= -256 && f->x < 256 && f->y > -256 && f->y <= 256 && f->layer <= 1)
          << f->x << "," << f->y << " layer " << f->layer;
    }

    uint8_t* pixels = nullptr;
    int32_t grey = -1;
    ASSERT_EQ(db->loadTargetImage(pixels, w, h, grey, target), 0);
    delete[] pixels;
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(512, 512));
    EXPECT_EQ(grey, target == "poster" ? 1 : 0);  // a grey and a colour photo
  }
  EXPECT_EQ(db->headerValues().at("poster"), 0.5f);
}

void checkTheRecognizerNamesTheTargetInAFrontalFrame(const std::string& dir) {
  const auto db = loadDatabase(dir);
  Recognizer recognizer;
  ASSERT_EQ(recognizer.init(db), 0);
  for (const auto& [target, fraction] : {std::pair<std::string, double>{"sample_target", 0.3},
                                         {"sample_target", 0.6},
                                         {"sample_target", 0.9},
                                         {"poster", 0.5}}) {
    const RenderedView view = frontalView(*db, target, fraction);
    std::string result;
    EXPECT_EQ(recognizer.recognize(640, 480, 0, view.frame.pixels.data(), result, ""), 0)
        << target << " " << fraction;
    EXPECT_EQ(result, "{[{\"id\":\"" + target + "\"}]}");
  }
  const Image clutter = makeClutter(640, 480, 77);
  std::string result = "unchanged";
  EXPECT_EQ(recognizer.recognize(640, 480, 0, clutter.pixels.data(), result, ""), 10);
  EXPECT_EQ(result, "unchanged");
}

// The figures of one target's fresh-view line: recognised and posed % per
// band (frontal, small, steep); empty when the line is missing or malformed.
std::vector<double> freshViewFigures(const std::string& list, const std::string& target) {
  const size_t header = list.find("fresh views (not training views), 10 per band");
  const size_t row = list.find("\n  " + target + " ", header);
  if (header == std::string::npos || row == std::string::npos) return {};
  std::vector<double> v(6);
  if (std::sscanf(list.c_str() + row, " %*s %lf / %lf %lf / %lf %lf / %lf", &v[0], &v[1], &v[2],
                  &v[3], &v[4], &v[5]) != 6) {
    return {};
  }
  return v;
}

void checkListsTargetsWithSizesCountsAndRating(const std::string& dir) {
  const ProgramRun list = runMkdb(dir, "--list " + quote(dir + "/shop.db"));
  ASSERT_EQ(list.status, 0) << list.err;
  const auto records = groupRecords(dir + "/shop.db");
  for (const std::string& line :
       {std::string(": 2 targets"),
        std::string("poster \"Shop \"Front\" \\ poster\" width 0.5, image 512x512"),
        std::string("trackability: "),
        "entries: .dat " + std::to_string(records[0].second.size()) + " B, .trk " +
            std::to_string(records[1].second.size()) + " B"}) {
    EXPECT_NE(list.out.find(line), std::string::npos) << line << "\n" << list.out;
  }

  // Fresh views: the same figures on every run, the well-textured sample
  // recognised in most frontal views, a pose only for a recognised view.
  EXPECT_EQ(runMkdb(dir, "--list " + quote(dir + "/shop.db")).out, list.out);
  EXPECT_EQ(list.err, "");
  for (const auto& [target, leastFrontal] :
       {std::pair<std::string, double>{"sample_target", 70.0}, {"poster", 0.0}}) {
    const std::vector<double> v = freshViewFigures(list.out, target);
    ASSERT_EQ(v.size(), 6u) << target << "\n" << list.out;
    EXPECT_GE(v[0], leastFrontal) << target;
    for (int band = 0; band < 3; ++band) {
      EXPECT_LE(v[2 * band + 1], v[2 * band]) << target << " band " << band;
      EXPECT_LE(v[2 * band], 100.0);
    }
  }
}

TEST(Mkdb, BuiltDatabaseWorksWithTheLibrary) {
  const BuiltDatabase& built = builtDatabase();
  ASSERT_EQ(built.result.status, 0) << built.result.err;
  const std::pair<const char*, void (*)(const std::string&)> checks[] = {
      {"layout", checkWritesFourEntriesPerTargetInTheGroupFileLayout},
      {"read back", checkTheLibraryReadsBackWhatTheBuilderMeant},
      {"recognizer", checkTheRecognizerNamesTheTargetInAFrontalFrame},
      {"list", checkListsTargetsWithSizesCountsAndRating}};
  for (const auto& [name, check] : checks) {
    SCOPED_TRACE(name);
    check(built.dir);
  }
}

TEST(Mkdb, ListJudgesNoTargetWhoseStoredImageIsMissingOrBroken) {
  const BuiltDatabase& built = builtDatabase();
  ASSERT_EQ(built.result.status, 0) << built.result.err;
  const std::string dir = testDir();
  // The entry left out or replaced, what --list says of its target.
  const std::string cases[][3] = {
      {"sample_target.jpg", "", "no image entry (.jpg)"},
      {"poster.jpg", "not a JPEG", "poster.jpg does not decode"},
  };
  GroupFileWriter writer;
  for (const auto& [name, data] : groupRecords(built.dir + "/shop.db")) {
    const auto* c = std::find_if(std::begin(cases), std::end(cases),
                                 [&](const auto& k) { return k[0] == name; });
    if (c == std::end(cases)) {
      ASSERT_TRUE(writer.addEntry(name, data));
    } else if (!(*c)[1].empty()) {
      ASSERT_TRUE(writer.addEntry(name, (*c)[1]));
    }
  }
  ASSERT_TRUE(writer.writeFile(dir + "/broken.db"));

  const ProgramRun list = runMkdb(dir, "--list " + quote(dir + "/broken.db") + " --list-views 2");
  EXPECT_EQ(list.status, 0) << list.err;
  for (const auto& [entry, data, problem] : cases) {
    (void)data;
    EXPECT_NE(list.out.find("  error: " + problem), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(" not judged: the stored image " + entry +
                            " is missing or does not decode\n"),
              std::string::npos)
        << list.out;
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
  std::vector<uint8_t> files[3];
  for (int i = 0; i < 3; ++i) {
    options.seed = i < 2 ? 1 : 2;
    BuiltTarget built;
    ASSERT_TRUE(buildTarget(spec, image, options, &built, &error)) << error;
    ASSERT_TRUE(makeGroupFile({built}, &files[i]));
  }
  EXPECT_GT(files[0].size(), 10000u);
  EXPECT_EQ(files[0], files[1]);
  EXPECT_NE(files[0], files[2]);
}

TEST(Mkdb, RejectsBadInputAndOptionsWithOneLineAndNoOutput) {
  const std::string dir = testDir();
  const std::string text = dir + "/notes.jpg";
  { std::ofstream(text) << "not an image at all"; }
  std::string error;
  ASSERT_TRUE(writeJpeg(dir + "/tiny.jpg", Image(99, 300, 1, 128), 90, &error)) << error;
  ASSERT_TRUE(writeJpeg(dir + "/huge.jpg", Image(16385, 100, 1, 128), 50, &error)) << error;

  // Arguments, exit code (2: usage), texts of the message.
  const std::string out = dir + "/out.db", o = "-o " + quote(out) + " --views 2 ";
  const std::string cases[][4] = {
      {o + quote(dir + "/missing.jpg"), "1", "missing.jpg", ""},
      {o + quote(text), "1", "notes.jpg", ""},
      {o + quote(dir + "/tiny.jpg"), "1", "tiny.jpg", "smaller than 100 pixels"},
      {o + quote(dir + "/huge.jpg"), "1", "huge.jpg", "larger than 16384 pixels"},
      {o + quote(kSample) + " " + quote(kSample), "1", "sample_target.jpg",
       "duplicate target name"},
      {o + quote(kSample + "=a.b"), "1", "sample_target.jpg", "invalid target name"},
      {o + "--size 50 " + quote(kSample), "2", "--size", ""},
      {o + "--width -1 " + quote(kSample), "2", "--width", ""},
      {o + "--recognition-corners 49 " + quote(kSample), "2", "--recognition-corners", ""},
      {o + "--tracking-views 2001 " + quote(kSample), "2", "--tracking-views", ""},
      {o + "--stray-votes 0.05 " + quote(kSample), "2", "--stray-votes", ""},
      {o + "--name nosuch=Y " + quote(kSample), "2", "nosuch", ""},
      {"--frobnicate", "2", "--frobnicate", ""},
      {o + "--list-views 3 " + quote(kSample), "2", "--list-views goes with --list", ""},
      {"--list " + quote(out) + " --list-views -1", "2", "--list-views", ""},
      {quote(kSample), "2", "no output file", ""}};
  for (const auto& [args, status, file, reason] : cases) {
    // Not even an older output file is touched.
    { std::ofstream(out) << "old"; }
    const ProgramRun r = runMkdb(dir, args);
    EXPECT_EQ(std::to_string(r.status), status) << args;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    EXPECT_EQ(readFileText(out), "old");
    EXPECT_FALSE(fs::exists(out + ".tmp"));
  }
  const ProgramRun unwritable =
      runMkdb(dir, "-o " + quote(dir + "/no/such/dir/x.db") + " --views 2 " + quote(kSample));
  EXPECT_NE(unwritable.status, 0);
  EXPECT_NE(unwritable.err.find("no/such/dir/x.db: cannot write"), std::string::npos)
      << unwritable.err;
  EXPECT_FALSE(fs::exists(dir + "/no"));
  const ProgramRun help = runMkdb(dir, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: vornik-mkdb", 0), 0u);
}

}  // namespace
}  // namespace vornik
