#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include "common/ground_truth.h"
#include "common/pose_sequence.h"
#include "common/synthetic_view.h"

namespace vornik {
namespace {

#ifdef VORNIK_SYNTH_PATH
const std::string kTool = VORNIK_SYNTH_PATH;
#else
const std::string kTool;
#endif

const std::string kTarget = std::string(VORNIK_DATA_DIR) + "/sample_target.jpg";

struct ToolRun {
  int status = -1;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

ToolRun runTool(const std::string& arguments) {
  // Named per test: the test cases may run in parallel processes.
  const std::string base = std::string(VORNIK_BINARY_DIR) + "/toolkit_synth_" +
                           testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::string command = kTool + " " + arguments + " > " + base + ".out 2> " + base + ".err";
  ToolRun run;
  const int raw = std::system(command.c_str());
#if defined(_WIN32)
  run.status = raw;
#else
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  run.out = slurp(base + ".out");
  run.err = slurp(base + ".err");
  return run;
}

std::string freshDir(const std::string& name) {
  const std::string dir = std::string(VORNIK_BINARY_DIR) + "/toolkit_synth_" + name;
  std::filesystem::remove_all(dir);
  return dir;
}

class SynthCommand : public testing::Test {
 protected:
  void SetUp() override {
    if (kTool.empty()) GTEST_SKIP() << "vornik-synth is not built";
  }
};

TEST_F(SynthCommand, HelpDocumentsEveryOption) {
  const ToolRun run = runTool("--help");
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--target",
                             "--background",
                             "--clutter",
                             "--size",
                             "--noise",
                             "--blur",
                             "--blur-type",
                             "--brightness",
                             "--contrast",
                             "--jpeg-quality",
                             "--seed",
                             "--out",
                             "--png",
                             "--view",
                             "--tilt",
                             "--tilt-direction",
                             "--rotation",
                             "--width",
                             "--offset",
                             "--random",
                             "--tilt-range",
                             "--width-range",
                             "--rotation-range",
                             "--offset-range",
                             "--sequence",
                             "--frames",
                             "orbit",
                             "approach",
                             "shake",
                             "pan",
                             "static",
                             "reenter"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
}

TEST_F(SynthCommand, BadInputGivesOneLineAndFailure) {
  const std::string dir = freshDir("bad");
  const std::string inputs[][2] = {
      {"--view --out " + dir, "--target"},
      {"--target " + kTarget + " --view", "--out"},
      {"--target " + kTarget + " --out " + dir, "--view"},
      {"--target /no/such.jpg --view --out " + dir, "/no/such.jpg"},
      {"--target " + std::string(VORNIK_DATA_DIR) + "/README --view --out " + dir, "README"},
      {"--target " + kTarget + " --view --size 640x --out " + dir, "--size"},
      {"--target " + kTarget + " --view --jpeg-quality 0 --out " + dir, "--jpeg-quality"},
      {"--target " + kTarget + " --sequence spin --out " + dir, "--sequence"},
      {"--target " + kTarget + " --view --noise -1 --out " + dir, "--noise"},
      {"--target " + kTarget + " --view --tilt 95 --out " + dir, "--tilt"},
      {"--target " + kTarget + " --view --clutter --background " + kTarget + " --out " + dir,
       "--clutter"},
      {"--target " + kTarget + " --view --bogus --out " + dir, "--bogus"},
      {"--target " + kTarget + " --view --out", "--out"},
  };
  for (const auto& input : inputs) {
    const ToolRun run = runTool(input[0]);
    EXPECT_NE(run.status, 0) << input[0];
    EXPECT_EQ(run.err.rfind("vornik-synth: error: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find(input[1]), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/ground_truth.csv"));
}

TEST_F(SynthCommand, ViewWritesTheRenderedFrameAndItsTruth) {
  const std::string dir = freshDir("view");
  const ToolRun run = runTool("--target " + kTarget + " --out " + dir +
                              " --view --tilt 30 --tilt-direction 45 --rotation 10 --width 0.6"
                              " --offset 0.05,-0.1 --size 200x150 --png --contrast 1.2");
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<GroundTruthRow> rows;
  std::string error;
  ASSERT_TRUE(readGroundTruth(dir + "/ground_truth.csv", &rows, &error)) << error;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].fileName, "frame_00000.png");

  ViewParams view;
  view.tiltDeg = 30;
  view.tiltDirectionDeg = 45;
  view.rotationDeg = 10;
  view.widthFraction = 0.6;
  view.offsetX = 0.05;
  view.offsetY = -0.1;
  Image target, frame;
  ASSERT_TRUE(readImage(kTarget, &target, &error));
  ViewOptions options;
  options.camera = CameraModel{200, 150};
  options.contrast = 1.2;
  RenderedView expected;
  ASSERT_TRUE(renderView(target, poseFromView(view, options.camera), options, &expected, &error));
  EXPECT_EQ(rows[0].truth.cameraFromTarget, expected.truth.cameraFromTarget);
  EXPECT_EQ(rows[0].truth.corners, expected.truth.corners);
  ASSERT_TRUE(readImage(dir + "/frame_00000.png", &frame, &error)) << error;
  EXPECT_EQ(frame.pixels, expected.frame.pixels);
}

TEST_F(SynthCommand, SequencesAndRandomViewsWriteEveryFrame) {
  const std::string dir = freshDir("sequence");
  ToolRun run = runTool("--target " + kTarget + " --out " + dir +
                        " --sequence reenter --frames 12 --size 160x120 --clutter --noise 2");
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<GroundTruthRow> rows;
  std::string error;
  ASSERT_TRUE(readGroundTruth(dir + "/ground_truth.csv", &rows, &error)) << error;
  ASSERT_EQ(rows.size(), 12u);
  const CameraModel camera{160, 120};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(rows[i].frameIndex, i);
    EXPECT_TRUE(std::filesystem::exists(dir + "/" + rows[i].fileName));
    const PoseMatrix pose = poseFromView(sequenceView(SequenceKind::kReenter, i, 12), camera);
    EXPECT_EQ(rows[i].truth.cameraFromTarget, pose);
  }
  EXPECT_TRUE(rows[0].truth.fullyInView);
  EXPECT_FALSE(rows[6].truth.fullyInView);

  const std::string randomDir = freshDir("random");
  run = runTool("--target " + kTarget + " --out " + randomDir +
                " --random 5 --seed 9 --size 160x120 --jpeg-quality 80");
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<GroundTruthRow> first, second;
  ASSERT_TRUE(readGroundTruth(randomDir + "/ground_truth.csv", &first, &error)) << error;
  run = runTool("--target " + kTarget + " --out " + randomDir +
                " --random 5 --seed 9 --size 160x120 --jpeg-quality 80");
  ASSERT_TRUE(readGroundTruth(randomDir + "/ground_truth.csv", &second, &error)) << error;
  ASSERT_EQ(first.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(first[i].truth.cameraFromTarget, second[i].truth.cameraFromTarget);
    EXPECT_EQ(first[i].fileName, "frame_0000" + std::to_string(i) + ".jpg");
  }
  EXPECT_NE(first[0].truth.cameraFromTarget, first[1].truth.cameraFromTarget);
}

}  // namespace
}  // namespace vornik
