// Runs the vornik-play program on rendered sequences with ground truth.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "builder/database_builder.h"
#include "common/ground_truth.h"
#include "common/image_io.h"
#include "common/pose_sequence.h"
#include "common/synthetic_view.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

struct PlayRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Fields of one CSV line; quoted fields may hold commas and doubled quotes.
std::vector<std::string> splitCsv(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

class VornikPlayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(fs::temp_directory_path().string() + "/vornik_play_test_" +
                           std::to_string(getpid()));
    fs::create_directories(*dir_);
    TargetSpec spec;
    spec.imagePath = std::string(VORNIK_DATA_DIR) + "/sample_target.jpg";
    spec.targetName = "astro";
    spec.displayName = "Astronaut, sample";
    BuildOptions options;
    options.trainingViews = 0;
    std::vector<BuiltTarget> built;
    std::string error;
    ASSERT_TRUE(buildDatabase({spec}, options, *dir_ + "/astro.db", nullptr, &built, &error))
        << error;
    ASSERT_TRUE(readImage(spec.imagePath, &target_, &error)) << error;
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete dir_;
  }

  // Frames of a sequence with their ground truth, the way vornik-synth
  // writes them.
  static std::string renderSequence(const std::string& name, SequenceKind kind, int frames,
                                    double noise) {
    const std::string out = *dir_ + "/" + name;
    fs::create_directories(out);
    const Image clutter = makeClutter(640, 480, 5);
    ViewOptions view;
    view.background = &clutter;
    view.noiseSigma = noise;
    std::vector<GroundTruthRow> rows;
    std::string error;
    for (int i = 0; i < frames; ++i) {
      view.seed = 100 + i;
      RenderedView rendered;
      EXPECT_TRUE(renderView(target_, poseFromView(sequenceView(kind, i, frames), view.camera),
                             view, &rendered, &error))
          << error;
      char file[32];
      std::snprintf(file, sizeof file, "frame_%05d.jpg", i);
      EXPECT_TRUE(writeJpeg(out + "/" + file, rendered.frame, 95, &error)) << error;
      GroundTruthRow row;
      row.frameIndex = i;
      row.fileName = file;
      row.truth = rendered.truth;
      rows.push_back(row);
    }
    EXPECT_TRUE(writeGroundTruth(out + "/ground_truth.csv", rows, &error)) << error;
    return out;
  }

  static PlayRun play(const std::string& arguments) {
    static int counter = 0;
    const std::string base = *dir_ + "/run" + std::to_string(counter++);
    const std::string command = std::string("\"") + VORNIK_PLAY_PATH + "\" " + arguments + " >" +
                                base + ".out 2>" + base + ".err";
    PlayRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readAll(base + ".out");
    run.err = readAll(base + ".err");
    return run;
  }

  static std::string* dir_;
  static Image target_;
};

std::string* VornikPlayTest::dir_ = nullptr;
Image VornikPlayTest::target_;

TEST_F(VornikPlayTest, ShakySequenceIsTrackedWithinFivePixels) {
  const int kFrames = 16;
  const std::string frames = renderSequence("shake", SequenceKind::kShake, kFrames, 1.0);
  const std::string csv = *dir_ + "/shake.csv";
  const std::string overlay = *dir_ + "/shake_overlay";
  const PlayRun run =
      play("--group " + *dir_ + "/astro.db --truth " + frames + "/ground_truth.csv --overlay " +
           overlay + " --out " + csv + " " + frames);
  ASSERT_EQ(run.status, 0) << run.err;

  std::stringstream lines(readAll(csv));
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  const std::vector<std::string> header = splitCsv(line);
  ASSERT_EQ(header.size(), 5u + 16u + 8u + 3u);
  EXPECT_EQ(header[2], "state");
  EXPECT_EQ(header.back(), "corner_error_px");
  std::vector<std::vector<std::string>> rows;
  while (std::getline(lines, line)) rows.push_back(splitCsv(line));
  ASSERT_EQ(rows.size(), static_cast<size_t>(kFrames));
  // The manager's stages: one frame recognises, the next poses, then tracking.
  EXPECT_EQ(rows[0][2], "recognised");
  EXPECT_EQ(rows[0][3], "");
  EXPECT_EQ(rows[1][2], "acquired");
  for (int i = 1; i < kFrames; ++i) {
    const std::vector<std::string>& row = rows[i];
    ASSERT_EQ(row.size(), header.size());
    EXPECT_EQ(row[0], std::to_string(i));
    if (i > 1) {
      EXPECT_EQ(row[2], "tracked") << "frame " << i;
    }
    EXPECT_EQ(row[3], "astro");
    EXPECT_EQ(row[4], "Astronaut, sample");
    EXPECT_EQ(row[30], "1");
    ASSERT_FALSE(row.back().empty());
    EXPECT_LE(std::stod(row.back()), 5.0) << "frame " << i;
  }
  EXPECT_NE(run.out.find("# ground truth: 16 frames matched, 16 fully in view, 15 within 5 px"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(fs::exists(overlay + "/overlay_00000.jpg"));
  EXPECT_TRUE(fs::exists(overlay + "/overlay_00015.jpg"));
  Image picture;
  std::string error;
  ASSERT_TRUE(readImage(overlay + "/overlay_00015.jpg", &picture, &error)) << error;
  EXPECT_EQ(picture.width, 640);
}

TEST_F(VornikPlayTest, StaticViewJitterIsSmallAndJsonLinesCarryThePose) {
  const std::string frames = renderSequence("static", SequenceKind::kStatic, 8, 2.0);
  const PlayRun run = play("--format json --group " + *dir_ + "/astro.db --truth " + frames +
                           "/ground_truth.csv " + frames + "/frame_%05d.jpg");
  ASSERT_EQ(run.status, 0) << run.err;
  std::stringstream lines(run.out);
  std::string line;
  int json = 0;
  double jitter = -1.0;
  while (std::getline(lines, line)) {
    if (line.rfind("{\"frame\":", 0) == 0) {
      ++json;
      if (json > 2) {
        EXPECT_NE(line.find("\"state\":\"tracked\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"name\":\"Astronaut, sample\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"pose\":["), std::string::npos);
      }
    }
    if (line.rfind("# static view jitter: ", 0) == 0) jitter = std::stod(line.substr(22));
  }
  EXPECT_EQ(json, 8);
  ASSERT_GE(jitter, 0.0) << run.out;
  EXPECT_LT(jitter, 0.5);
}

TEST_F(VornikPlayTest, BadInputGivesOneClearLine) {
  const std::string group = "--group " + *dir_ + "/astro.db ";
  PlayRun run = play("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Usage: vornik-play", 0), 0u);

  run = play(group + *dir_ + "/missing_folder");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("does not exist"), std::string::npos) << run.err;

  fs::create_directories(*dir_ + "/empty");
  run = play(group + *dir_ + "/empty");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no .jpg, .jpeg or .png images"), std::string::npos) << run.err;

  run = play("--group " + *dir_ + "/nothing.db " + *dir_ + "/empty");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("group file " + *dir_ + "/nothing.db not found"), std::string::npos);

  std::ofstream(*dir_ + "/garbage.db") << "not a group file at all";
  const std::string frames = renderSequence("one", SequenceKind::kStatic, 1, 0.0);
  run = play("--group " + *dir_ + "/garbage.db " + frames);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no target could be read from the group file garbage.db"),
            std::string::npos)
      << run.err;

  run = play(group);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("no input given"), std::string::npos);
  run = play(group + "--format xml " + frames);
  EXPECT_EQ(run.status, 2);
}

}  // namespace
}  // namespace vornik
