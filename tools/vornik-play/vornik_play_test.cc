// Runs the vornik-play program on rendered sequences with ground truth, and
// on a video file read through the capture plug-in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#ifdef VORNIK_PLAY_VIDEO
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#endif

#include "builder/database_builder.h"
#include "common/ground_truth.h"
#include "common/image_io.h"
#include "common/pose_sequence.h"
#include "common/synthetic_view.h"
#include "common/test_programs.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

// Fields of one CSV line; quoted fields may hold commas.
std::vector<std::string> splitCsv(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
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
      rows.push_back({i, file, rendered.truth});
    }
    EXPECT_TRUE(writeGroundTruth(out + "/ground_truth.csv", rows, &error)) << error;
    return out;
  }

  static ProgramRun play(const std::string& arguments) {
    static int counter = 0;
    return runProgram(VORNIK_PLAY_PATH, arguments, *dir_ + "/run" + std::to_string(counter++));
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
  const ProgramRun run =
      play("--group " + *dir_ + "/astro.db --truth " + frames + "/ground_truth.csv --overlay " +
           overlay + " --out " + csv + " " + frames);
  ASSERT_EQ(run.status, 0) << run.err;

  std::stringstream lines(readFileText(csv));
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
  for (int i = 1; i < kFrames; ++i) {
    const std::vector<std::string>& row = rows[i];
    ASSERT_EQ(row.size(), header.size());
    EXPECT_EQ(std::tie(row[0], row[2], row[3], row[4], row[30]),
              std::make_tuple(std::to_string(i), i > 1 ? "tracked" : "acquired", "astro",
                              "Astronaut, sample", "1"));
    ASSERT_FALSE(row.back().empty());
    EXPECT_LE(std::stod(row.back()), 5.0) << "frame " << i;
  }
  EXPECT_NE(run.out.find("# ground truth: 16 frames matched, 16 fully in view, 15 within 5 px"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(fs::exists(overlay + "/overlay_00000.jpg"));
  Image picture;
  std::string error;
  ASSERT_TRUE(readImage(overlay + "/overlay_00015.jpg", &picture, &error)) << error;
  EXPECT_EQ(picture.width, 640);
}

TEST_F(VornikPlayTest, StaticViewJitterIsSmallAndJsonLinesCarryThePose) {
  const std::string frames = renderSequence("static", SequenceKind::kStatic, 8, 2.0);
  const ProgramRun run = play("--format json --group " + *dir_ + "/astro.db --truth " + frames +
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
  fs::create_directories(*dir_ + "/empty");
  std::ofstream(*dir_ + "/garbage.db") << "not a group file at all";
  const std::string frames = renderSequence("one", SequenceKind::kStatic, 1, 0.0);
  const std::string group = "--group " + *dir_ + "/astro.db ";
  // Arguments, exit code, part of the message.
  const std::tuple<std::string, int, std::string> cases[] = {
      {group + *dir_ + "/missing_folder", 1, "does not exist"},
      {group + *dir_ + "/empty", 1, "no .jpg, .jpeg or .png images"},
      {"--group " + *dir_ + "/nothing.db " + *dir_ + "/empty", 1,
       "group file " + *dir_ + "/nothing.db not found"},
      {"--group " + *dir_ + "/garbage.db " + frames, 1,
       "no target could be read from the group file garbage.db"},
      {group, 2, "no input given"},
      {group + "--format xml " + frames, 2, "xml"}};
  for (const auto& [arguments, status, message] : cases) {
    const ProgramRun run = play(arguments);
    EXPECT_EQ(run.status, status) << arguments;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  const ProgramRun help = play("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: vornik-play", 0), 0u);
}

#ifdef VORNIK_PLAY_VIDEO
TEST_F(VornikPlayTest, EveryFrameOfAVideoIsPlayedInOrder) {
  const Image clutter = makeClutter(640, 480, 9);
  ViewOptions view;
  view.background = &clutter;
  RenderedView rendered;
  std::string error;
  ASSERT_TRUE(renderView(target_, poseFromView(ViewParams{15, 0, 0, 0.6, 0, 0}, view.camera), view,
                         &rendered, &error));
  const std::string video = *dir_ + "/clip.avi";
  {
    cv::VideoWriter writer(video, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30,
                           cv::Size(640, 480));
    ASSERT_TRUE(writer.isOpened());
    cv::Mat frame(480, 640, CV_8UC3, rendered.frame.pixels.data());
    for (int i = 0; i < 6; ++i) writer.write(frame);
  }
  const ProgramRun run = play("--group " + *dir_ + "/astro.db " + video);
  ASSERT_EQ(run.status, 0) << run.err;
  std::stringstream lines(run.out);
  std::vector<std::string> states;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#' || line.rfind("frame,", 0) == 0) continue;
    const std::vector<std::string> fields = splitCsv(line);
    EXPECT_EQ(fields[0], std::to_string(states.size()));
    EXPECT_EQ(fields[1], fields[0]);  // video frames are named by their index
    states.push_back(fields[2]);
  }
  EXPECT_EQ(states, (std::vector<std::string>{"recognised", "acquired", "tracked", "tracked",
                                              "tracked", "tracked"}));
}
#endif

}  // namespace
}  // namespace vornik
